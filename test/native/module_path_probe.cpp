// Test-only accessor, built with the module_location sources into a probe
// library (never into Corsivet.so), so that tests can load copies of it from
// chosen places and read what each copy recorded about itself.

#include <cwchar>

#include "module_path.h"
#include "module_path_record.h"

#ifdef _WIN32
#define PROBE_EXPORT __declspec(dllexport)
#else
#define PROBE_EXPORT __attribute__((visibility("default")))
#endif

namespace {

void copyOut(const std::wstring& text, wchar_t* out)
{
    out[text.copy(out, pathBufferLength - 1)] = L'\0';
}

}  // namespace

// Both exports take the same arguments: an input, which only the splitter
// reads, and two outputs of pathBufferLength elements each.
extern "C" PROBE_EXPORT void probeModuleRecord(const wchar_t*, wchar_t* path, wchar_t* directory)
{
    copyOut(getModulePath(), path);
    copyOut(getModuleDirectory(), directory);
}

// Splits any path the way getModuleDirectory splits the record.
extern "C" PROBE_EXPORT void probeSplitPath(const wchar_t* path, wchar_t* drive, wchar_t* directory)
{
    wchar_t driveBuffer[pathBufferLength] = {};
    wchar_t directoryBuffer[pathBufferLength] = {};
    splitDriveAndDirectory(path, driveBuffer, directoryBuffer);
    copyOut(driveBuffer, drive);
    copyOut(directoryBuffer, directory);
}
