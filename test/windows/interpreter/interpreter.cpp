// A recorder standing in for the interpreter library x64-msvcrt-ruby200.dll:
// it notes the calls that set up the script surface and keeps the Strings it
// is asked to make, so the test host can check both. It interprets nothing.

#define STAND_IN_INTERPRETER
#include "recorder.h"

#include <ruby/encoding.h>

#include <map>
#include <string>
#include <vector>

struct StandInEncoding {
    const char* name;
};

namespace {

struct StandInString {
    std::string bytes;
    const char* encoding;
};

StandInEncoding utf8 = {"UTF-8"};
std::vector<std::string> calls;
std::map<VALUE, std::string> moduleNames;
VALUE (*lastRegistered)(ANYARGS) = nullptr;

std::string quoted(const char* text)
{
    return std::string("\"") + text + "\"";
}

StandInString* asString(VALUE object)
{
    return reinterpret_cast<StandInString*>(object);
}

}  // namespace

extern "C" {

void ruby_init(void)
{
    calls.push_back("ruby_init()");
}

VALUE rb_define_module(const char* name)
{
    calls.push_back("rb_define_module(" + quoted(name) + ")");
    const VALUE module = 0x1000 + 0x10 * moduleNames.size();
    moduleNames[module] = name;
    return module;
}

void rb_define_module_function(VALUE module, const char* name, VALUE (*function)(ANYARGS), int arity)
{
    const std::string moduleName = moduleNames.count(module) ? moduleNames[module] : "an unknown module";
    calls.push_back("rb_define_module_function(" + moduleName + ", " + quoted(name) + ", " + std::to_string(arity)
                    + ")");
    lastRegistered = function;
}

VALUE rb_str_new_cstr(const char* text)
{
    return reinterpret_cast<VALUE>(new StandInString{text, "ASCII-8BIT"});
}

void rb_memerror(void)
{
    calls.push_back("rb_memerror()");
}

rb_encoding* rb_utf8_encoding(void)
{
    return &utf8;
}

VALUE rb_enc_associate(VALUE object, rb_encoding* encoding)
{
    asString(object)->encoding = encoding->name;
    return object;
}

const char* recordedCall(int index)
{
    return index < static_cast<int>(calls.size()) ? calls[index].c_str() : nullptr;
}

VALUE (*registeredFunction(void))(ANYARGS)
{
    return lastRegistered;
}

const char* stringBytes(VALUE string)
{
    return asString(string)->bytes.c_str();
}

const char* stringEncoding(VALUE string)
{
    return asString(string)->encoding;
}
}
