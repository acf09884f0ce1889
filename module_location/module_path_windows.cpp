// Windows: the loader tells the library its module handle in DllMain, and the
// module handle gives the file's path.

// Older mingw-w64 headers declare the checked splitter, _wsplitpath_s, only
// when asked to; newer ones ask themselves, with this same value.
#define MINGW_HAS_SECURE_API 1

#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "module_path_record.h"

std::wstring modulePath;

namespace {

void recordModulePath(HMODULE module)
{
    wchar_t path[pathBufferLength] = {};
    // One element less than the buffer: the last one stays zero, so the text
    // is terminated even where the query cuts the path.
    const DWORD length = GetModuleFileNameW(module, path, pathBufferLength - 1);

    // A query that fills all it was given has cut the path, and a cut path
    // names some other file: the record stays empty, as for a failed query.
    if (length == 0 || length > maxRecordedPathLength) {
        return;
    }
    // An exception must not leave DllMain; out of memory, the record stays
    // empty instead.
    try {
        modulePath.assign(path, std::wcslen(path));
    } catch (...) {
        // The record stays empty.
        modulePath.clear();
    }
}

}  // namespace

// The loader calls this before anything else in the library can run; the
// runtime has already constructed `modulePath` by then, and releases it after
// the detach call. The load is never refused.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        recordModulePath(module);
    }
    return TRUE;
}

void splitDriveAndDirectory(const std::wstring& path, wchar_t (&drive)[pathBufferLength],
                            wchar_t (&directory)[pathBufferLength])
{
    // The checked splitter writes within the sizes it is given; the plain one
    // assumes outputs of _MAX_DRIVE and _MAX_DIR elements and gives up on a
    // directory longer than that, though the record holds longer ones.
    _wsplitpath_s(path.c_str(), drive, pathBufferLength, directory, pathBufferLength, nullptr, 0, nullptr, 0);
}
