#ifndef STAND_IN_RUBY_H
#define STAND_IN_RUBY_H

// Stand-in for the interpreter's header, for the Windows test build only (no
// Windows build of Ruby can be had here): the declarations the library uses,
// as Ruby 2.0 on 64-bit Windows makes them.

#include <stdint.h>

#ifdef STAND_IN_INTERPRETER
#define STAND_IN_API __declspec(dllexport)
#else
#define STAND_IN_API __declspec(dllimport)
#endif

#ifdef __cplusplus
#define ANYARGS ...
extern "C" {
#else
#define ANYARGS
#endif

typedef uintptr_t VALUE;

#define Qnil ((VALUE)8)
#define RUBY_METHOD_FUNC(func) ((VALUE(*)(ANYARGS))(func))

STAND_IN_API void ruby_init(void);
STAND_IN_API VALUE rb_define_module(const char* name);
STAND_IN_API void rb_define_module_function(VALUE module, const char* name, VALUE (*function)(ANYARGS), int arity);
STAND_IN_API VALUE rb_str_new_cstr(const char* text);
STAND_IN_API void rb_memerror(void);

#ifdef __cplusplus
}
#endif

#endif
