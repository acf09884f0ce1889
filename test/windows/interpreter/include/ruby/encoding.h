#ifndef STAND_IN_RUBY_ENCODING_H
#define STAND_IN_RUBY_ENCODING_H

// Stand-in for the interpreter's encoding header; see ../ruby.h.

#include "../ruby.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct StandInEncoding rb_encoding;

STAND_IN_API rb_encoding* rb_utf8_encoding(void);
STAND_IN_API VALUE rb_enc_associate(VALUE object, rb_encoding* encoding);

#ifdef __cplusplus
}
#endif

#endif
