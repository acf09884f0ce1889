#ifndef CORSIVET_MODULE_PATH_RECORD_H
#define CORSIVET_MODULE_PATH_RECORD_H

// Shared by the portable part of the module path record and its platform
// files: the record itself, the platform's splitter and their buffer sizes.

#include <cstddef>
#include <string>

// Elements in each buffer that receives a path from the platform.
const std::size_t pathBufferLength = 1024;

// The longest path recorded. The load-time query is given one element less
// than its buffer, so that the text stays terminated, and a path that fills
// all it was given may have been cut, so it is not taken as the library's.
const std::size_t maxRecordedPathLength = pathBufferLength - 2;

// The library file's full path, filled while the operating system loads the
// library and read-only afterwards. Defined by the platform file, next to the
// code that fills it, so that it is constructed before being filled.
extern std::wstring modulePath;

// Writes the drive of `path` (empty where the platform has no drives) and its
// directory, with leading and trailing separators, as terminated text.
void splitDriveAndDirectory(const std::wstring& path, wchar_t (&drive)[pathBufferLength],
                            wchar_t (&directory)[pathBufferLength]);

#endif
