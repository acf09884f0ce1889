// Windows: the shell knows where the all-users application-data folder is.

#include "common_app_data.h"

#include <windows.h>

#include <shlobj.h>

void queryCommonAppDataFolder(char (&folder)[commonAppDataBufferSize])
{
    // Ask for the UTF-16 form: the ANSI form cannot spell every folder name
    // in every code page, and its bytes would not be UTF-8.
    wchar_t widePath[maxCommonAppDataLength + 1] = {};

    // The shell has been seen to write the path of a missing folder while
    // reporting failure, so only a reported success counts.
    if (SHGetSpecialFolderPathW(nullptr, widePath, CSIDL_COMMON_APPDATA, FALSE) == FALSE) {
        return;
    }

    // The buffer holds any converted path; should the conversion fail all the
    // same, it may have written part of one, and a part is not the folder.
    if (WideCharToMultiByte(CP_UTF8, 0, widePath, -1, folder, sizeof folder, nullptr, nullptr) == 0) {
        folder[0] = '\0';
    }
}
