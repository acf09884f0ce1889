#include <windows.h>

#include <stdexcept>

#include "test_platform.h"

const char separator = '\\';

namespace {

void check(bool succeeded, const std::string& what)
{
    if (!succeeded) {
        throw std::runtime_error(what + ": error " + std::to_string(GetLastError()));
    }
}

std::wstring widen(const std::string& utf8)
{
    wchar_t wide[4096] = {};
    check(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.c_str(), -1, wide, 4096) != 0, "not UTF-8: " + utf8);
    return wide;
}

}  // namespace

// The drive of the throwaway Wine prefix the lane makes for each run, so the
// places tested are the ones a user would have, such as C:\dir\sub.
std::string makeScratchFolder()
{
    return "C:";
}

void removeScratchFolder(const std::string&)
{
    // Goes with the prefix.
}

void makeFolders(const std::string& path)
{
    for (std::size_t end = path.find('\\', 3);; end = path.find('\\', end + 1)) {
        const std::string folder = path.substr(0, end);
        check(CreateDirectoryW(widen(folder).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS,
              "cannot make " + folder);
        if (end == std::string::npos) {
            return;
        }
    }
}

void copyFile(const std::string& from, const std::string& to)
{
    check(CopyFileW(widen(from).c_str(), widen(to).c_str(), FALSE), "cannot copy " + from + " to " + to);
}

void makeFolderLink(const std::string&, const std::string& link)
{
    throw std::runtime_error("folder links are tested on POSIX only: " + link);
}

void changeWorkingFolder(const std::string& path)
{
    check(SetCurrentDirectoryW(widen(path + "\\").c_str()), "cannot change to " + path);
}

void* loadLibrary(const std::string& path)
{
    HMODULE library = LoadLibraryW(widen(path).c_str());
    check(library != nullptr, "cannot load " + path);
    return reinterpret_cast<void*>(library);
}

void* findFunction(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void unloadLibrary(void* library)
{
    FreeLibrary(static_cast<HMODULE>(library));
}
