#ifndef STAND_IN_RECORDER_H
#define STAND_IN_RECORDER_H

// What the stand-in interpreter recorded, for the test host to read.

#include "ruby.h"

extern "C" {

// The set-up calls made into the stand-in so far (ruby_init, the defines and
// rb_memerror), each as one line of text, such as rb_define_module("Veltrane");
// modules appear by the name they were defined with. Null past the last call.
STAND_IN_API const char* recordedCall(int index);

// The function last registered with rb_define_module_function.
STAND_IN_API VALUE (*registeredFunction(void))(ANYARGS);

// The bytes and the encoding name of a String the stand-in made; the encoding
// is "ASCII-8BIT" until rb_enc_associate tags it.
STAND_IN_API const char* stringBytes(VALUE string);
STAND_IN_API const char* stringEncoding(VALUE string);
}

#endif
