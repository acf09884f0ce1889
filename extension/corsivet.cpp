// The script binding: the entry point the interpreter calls after loading the
// library, and the one function it gives scripts.

#include <sstream>
#include <string>

#include <ruby.h>
#include <ruby/encoding.h>

#include "common_app_data.h"

// The interpreter finds the entry point by its name; it is the one symbol the
// library exports, everything else stays hidden.
#ifdef _WIN32
#define CORSIVET_EXPORT __declspec(dllexport)
#else
#define CORSIVET_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// The module `Veltrane`, set once when the interpreter calls Init_Corsivet.
VALUE moduleObject = Qnil;

// Reads the folder, as UTF-8 text, into `text`; empty text when the platform
// cannot tell. Everything it allocates is released before it returns, since
// the interpreter calls that follow may raise, and a raise skips C++
// destructors. False when memory ran out.
bool readCommonAppDataFolder(char (&text)[commonAppDataBufferSize])
{
    try {
        char folder[commonAppDataBufferSize] = {};
        queryCommonAppDataFolder(folder);

        std::stringstream stream;
        stream << folder;
        stream.flush();
        const std::string accumulated = stream.str();
        // Fits: it is the text of a buffer of the same size.
        text[accumulated.copy(text, sizeof text - 1)] = '\0';
        return true;
    } catch (...) {
        // Only allocation can fail here.
        return false;
    }
}

/*
 * call-seq:
 *   Veltrane.commonAppDataPath -> string
 *
 * Returns the path of the machine-wide application-data folder, the folder
 * for data shared by all users of the machine, as a new UTF-8 String.
 *
 * - Windows: the folder the shell reports for all users, typically
 *   <tt>C:\ProgramData</tt>.
 * - macOS: <tt>/Library/Application Support</tt>.
 * - Linux and other Unix systems: <tt>/usr/share</tt>.
 *
 * The folder is asked for anew on every call, and every call returns a fresh
 * String. The method never raises on its own: when the folder cannot be
 * determined (on Windows, when the shell reports no such folder), it returns
 * the empty String. Like any allocation in the interpreter, it raises
 * NoMemoryError when memory runs out.
 *
 *   require "Corsivet"
 *   Veltrane.commonAppDataPath           #=> "/usr/share" on Linux
 *   Veltrane.commonAppDataPath.encoding  #=> #<Encoding:UTF-8>
 */
VALUE getCommonAppDataPath(VALUE self)
{
    (void)self;
    char text[commonAppDataBufferSize] = {};
    if (!readCommonAppDataFolder(text)) {
        rb_memerror();
    }
    const VALUE path = rb_str_new_cstr(text);
    rb_enc_associate(path, rb_utf8_encoding());
    return path;
}

}  // namespace

extern "C" CORSIVET_EXPORT void Init_Corsivet()
{
    // The function keeps no state, so it may run in any Ractor.
#ifdef HAVE_RB_EXT_RACTOR_SAFE
    rb_ext_ractor_safe(true);
#endif
    ruby_init();

    /*
     * Document-module: Veltrane
     *
     * Where the machine keeps application data shared by all of its users.
     *
     *   require "Corsivet"
     *   Veltrane.commonAppDataPath  #=> "C:\\ProgramData" on Windows
     */
    moduleObject = rb_define_module("Veltrane");
    rb_define_module_function(moduleObject, "commonAppDataPath", RUBY_METHOD_FUNC(getCommonAppDataPath), 0);
}
