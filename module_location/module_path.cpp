// Reading the module path record; filling it is the platform files' work.

#include "module_path.h"

#include <sstream>

#include "module_path_record.h"

const std::wstring& getModulePath()
{
    return modulePath;
}

std::wstring getModuleDirectory()
{
    wchar_t drive[pathBufferLength] = {};
    wchar_t directory[pathBufferLength] = {};
    splitDriveAndDirectory(modulePath, drive, directory);

    std::wstringstream stream;
    stream << drive << directory;
    stream.flush();
    return stream.str();
}
