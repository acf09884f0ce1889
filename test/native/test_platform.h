#ifndef CORSIVET_TEST_PLATFORM_H
#define CORSIVET_TEST_PLATFORM_H

// What the module path tests need from the platform, one file per platform.
// Paths are UTF-8 text with the platform's own separators.

#include <string>

extern const char separator;

// A folder for this run's files, as an absolute path without links.
std::string makeScratchFolder();
// Removes what makeScratchFolder made, with all it holds.
void removeScratchFolder(const std::string& path);

void makeFolders(const std::string& path);
void copyFile(const std::string& from, const std::string& to);
void makeFolderLink(const std::string& target, const std::string& link);
void changeWorkingFolder(const std::string& path);

// Loads the shared library at `path` and returns its handle; throws when the
// loader refuses it.
void* loadLibrary(const std::string& path);
// The named export of a loaded library, or null.
void* findFunction(void* library, const char* name);
void unloadLibrary(void* library);

#endif
