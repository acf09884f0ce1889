// Drives the Windows build of Corsivet.so the way the interpreter does: load
// it, call Init_Corsivet, then call the function it registered, with a
// recorder standing in for the interpreter library.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "recorder.h"

namespace {

const wchar_t userShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t commonAppData[] = L"Common AppData";

std::vector<std::string> recordedCalls()
{
    std::vector<std::string> calls;
    for (int index = 0; recordedCall(index) != nullptr; ++index) {
        calls.push_back(recordedCall(index));
    }
    return calls;
}

// Moves the all-users application-data folder the shell reports.
void setCommonAppData(const std::wstring& folder)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, userShellFolders, 0, KEY_SET_VALUE, &key));
    const DWORD size = static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, commonAppData, 0, REG_EXPAND_SZ,
                                            reinterpret_cast<const BYTE*>(folder.c_str()), size));
    RegCloseKey(key);
}

std::wstring readCommonAppData()
{
    wchar_t folder[1024] = {};
    DWORD size = sizeof folder - sizeof(wchar_t);
    RegGetValueW(HKEY_LOCAL_MACHINE, userShellFolders, commonAppData, RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                 folder, &size);
    return folder;
}

class WindowsExtensionTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        HMODULE library = LoadLibraryW(L"Corsivet.so");
        ASSERT_TRUE(library != nullptr) << "cannot load Corsivet.so: error " << GetLastError();
        void (*init)() = reinterpret_cast<void (*)()>(GetProcAddress(library, "Init_Corsivet"));
        ASSERT_TRUE(init != nullptr) << "Corsivet.so does not export Init_Corsivet";
        init();
        callsOfInit = recordedCalls();
    }

    // Calls the registered function as the interpreter would, with a receiver
    // that plays no part, and gives the String's bytes and encoding.
    static std::pair<std::string, std::string> callRegisteredFunction()
    {
        VALUE (*function)(VALUE) = reinterpret_cast<VALUE (*)(VALUE)>(registeredFunction());
        const VALUE string = function(Qnil);
        return std::make_pair(stringBytes(string), stringEncoding(string));
    }

    static std::vector<std::string> callsOfInit;
};

std::vector<std::string> WindowsExtensionTest::callsOfInit;

TEST_F(WindowsExtensionTest, InitDefinesTheModuleWithItsOneFunction)
{
    const std::vector<std::string> expected = {
        "ruby_init()",
        "rb_define_module(\"Veltrane\")",
        "rb_define_module_function(Veltrane, \"commonAppDataPath\", 0)",
    };
    EXPECT_EQ(expected, callsOfInit);
}

TEST_F(WindowsExtensionTest, AnswersTheShellsFolderAsUtf8)
{
    struct FolderCase {
        const char* name;
        std::wstring commonAppData;  // empty: as the prefix has it
        bool folderExists;
        std::string expected;
    };
    const FolderCase cases[] = {
        {"the prefix's own folder", L"", true, "C:\\ProgramData"},
        {"a folder with a non-ASCII name", L"C:\\Donn\u00e9es", true, "C:\\Donn\303\251es"},
        {"a folder that does not exist", L"C:\\Missing folder", false, ""},
    };

    const std::wstring original = readCommonAppData();
    for (const FolderCase& folderCase : cases) {
        SCOPED_TRACE(folderCase.name);
        if (!folderCase.commonAppData.empty()) {
            setCommonAppData(folderCase.commonAppData);
            if (folderCase.folderExists) CreateDirectoryW(folderCase.commonAppData.c_str(), nullptr);
        }
        const std::pair<std::string, std::string> answer = callRegisteredFunction();
        EXPECT_EQ(folderCase.expected, answer.first);
        EXPECT_EQ("UTF-8", answer.second);
        setCommonAppData(original);
    }
}

// The lane runs this program a second time under another ANSI code page, one
// in which the non-ASCII folder above cannot be spelled.
TEST(WindowsCodePage, IsTheOneTheLaneAskedFor)
{
    const char* expected = std::getenv("EXPECTED_ANSI_CODE_PAGE");
    if (expected == nullptr) GTEST_SKIP() << "no code page asked for";
    EXPECT_EQ(static_cast<UINT>(std::atoi(expected)), GetACP());
}

}  // namespace
