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

// The module `Veltrane`, set once when the interpreter calls Init_Corsivet.
static VALUE moduleObject = Qnil;

// The folder as UTF-8 text; empty text when the platform cannot tell.
static std::string readCommonAppDataFolder()
{
    char folder[commonAppDataBufferSize] = {};
    queryCommonAppDataFolder(folder);

    std::stringstream stream;
    stream << folder;
    stream.flush();
    return stream.str();
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
 * the empty String.
 *
 *   require "Corsivet"
 *   Veltrane.commonAppDataPath           #=> "/usr/share" on Linux
 *   Veltrane.commonAppDataPath.encoding  #=> #<Encoding:UTF-8>
 */
static VALUE getCommonAppDataPath(VALUE self)
{
    (void)self;
    const std::string folder = readCommonAppDataFolder();
    VALUE path = rb_str_new_cstr(folder.c_str());
    rb_enc_associate(path, rb_utf8_encoding());
    return path;
}

extern "C" CORSIVET_EXPORT void Init_Corsivet()
{
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
