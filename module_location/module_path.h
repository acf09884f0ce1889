#ifndef CORSIVET_MODULE_PATH_H
#define CORSIVET_MODULE_PATH_H

// Where the library's own file is, for the library's native code.

#include <string>

// The full path of the library's file, recorded when the operating system
// loaded it; empty when it could not be recorded whole. Read-only once the
// library is loaded.
const std::wstring& getModulePath();

// The folder holding the library's file: the drive (Windows only) followed
// by the directory with its trailing separator. Empty when the path is.
std::wstring getModuleDirectory();

#endif
