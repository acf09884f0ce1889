// The module path record as the loader fills it: copies of the probe library
// are placed in chosen folders, loaded from there, and asked what they
// recorded. The same source runs natively and, built for Windows, under Wine.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "test_platform.h"

namespace {

#ifdef _WIN32
const bool onWindows = true;
#else
const bool onWindows = false;
#endif

const std::size_t bufferLength = 1024;
const char libraryName[] = "Corsivet.so";

// The two texts a probe export writes.
struct ProbeAnswer {
    std::wstring first;
    std::wstring second;
};

// Loads the probe library at `libraryPath`, calls its export `name` with
// `input` and two buffers of bufferLength elements, and unloads it.
ProbeAnswer askProbe(const std::string& libraryPath, const char* name, const std::wstring& input = L"")
{
    typedef void (*Probe)(const wchar_t* input, wchar_t* first, wchar_t* second);
    wchar_t first[bufferLength] = {};
    wchar_t second[bufferLength] = {};
    void* library = loadLibrary(libraryPath);
    const Probe probe = reinterpret_cast<Probe>(findFunction(library, name));
    if (probe != nullptr) {
        // A thread coming and going must leave the record as it was; on
        // Windows the loader tells the library of both.
        std::thread([] {}).join();
        probe(input.c_str(), first, second);
    }
    unloadLibrary(library);
    EXPECT_TRUE(probe != nullptr) << "the probe library lacks " << name;
    return ProbeAnswer{first, second};
}

template <typename Text>
Text withSeparators(Text path)
{
    for (auto& character : path) {
        if (character == '/') character = separator;
    }
    return path;
}

// `count` nested folders whose names are `length` characters long.
std::string longFolders(int count, std::size_t length)
{
    std::string folders;
    for (int folder = 0; folder < count; ++folder) {
        folders += (folder ? "/" : "") + std::string(length, static_cast<char>('a' + folder));
    }
    return folders;
}

// Folders that, placed in a folder whose path is `scratchLength` characters
// long, make the copy's full path exactly `pathLength` characters long.
std::string foldersForPathLength(std::size_t scratchLength, std::size_t pathLength)
{
    std::size_t remaining = pathLength - scratchLength - 2 - (sizeof libraryName - 1);
    std::string folders;
    for (char name = 'a'; remaining > 201; ++name, remaining -= 201) {
        folders += std::string(200, name) + "/";
    }
    return folders + std::string(remaining, 'z');
}

enum LoadedFrom { placedFolder, relativePath, folderLink };

struct LoadCase {
    const char* name;
    std::string placedIn;     // folder of the copy, under the scratch folder
    LoadedFrom loadedFrom;    // how the loader is given the copy's path
    std::wstring recordedIn;  // folder the record should name; empty: none
    bool posixOnly;
};

std::vector<LoadCase> loadCases(std::size_t scratchLength)
{
    const std::string longDirectory = longFolders(3, 100);
    const std::string overTheBound = longFolders(6, 200);
    const std::string longestRecorded = foldersForPathLength(scratchLength, 1022);
    return {
        {"ordinary folder", "dir/sub", placedFolder, L"dir/sub", false},
        {"folder with spaces", "with spaces/sub folder", placedFolder, L"with spaces/sub folder", false},
        {"non-ASCII folders", "Donn\303\251es/\346\227\245\346\234\254", placedFolder, L"Donn\u00e9es/\u65e5\u672c",
         false},
        {"relative path", "relative", relativePath, L"relative", false},
        {"directory over 255 characters", longDirectory, placedFolder,
         std::wstring(longDirectory.begin(), longDirectory.end()), false},
        {"path of 1022 characters, the longest recorded", longestRecorded, placedFolder,
         std::wstring(longestRecorded.begin(), longestRecorded.end()), false},
        {"path of 1023 characters", foldersForPathLength(scratchLength, 1023), placedFolder, L"", false},
        {"path far over the bound", overTheBound, placedFolder, L"", false},
        {"folder reached through a link", "link target", folderLink, L"linked", true},
        // Kept as lone surrogates, so nothing of the path is lost.
        {"bytes that are not UTF-8", "bad\377byte", placedFolder, L"bad" + std::wstring(1, 0xDCFF) + L"byte", true},
    };
}

class ModulePathTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch = makeScratchFolder();
        probe = scratch + separator + "probe.so";
        copyFile(PROBE_FILE, probe);
    }

    static void TearDownTestSuite() { removeScratchFolder(scratch); }

    // Places a copy of the probe library as `case` says and gives the path
    // to load it from.
    static std::string placeCopy(const LoadCase& loadCase)
    {
        const std::string folder = scratch + separator + withSeparators(loadCase.placedIn);
        makeFolders(folder);
        copyFile(probe, folder + separator + libraryName);
        switch (loadCase.loadedFrom) {
        case relativePath:
            changeWorkingFolder(scratch);
            return "." + std::string(1, separator) + withSeparators(loadCase.placedIn) + separator + libraryName;
        case folderLink:
            makeFolderLink(folder, scratch + separator + "linked");
            return scratch + separator + "linked" + separator + libraryName;
        default:
            return folder + separator + libraryName;
        }
    }

    static std::string scratch;
    static std::string probe;
};

std::string ModulePathTest::scratch;
std::string ModulePathTest::probe;

TEST_F(ModulePathTest, RecordNamesTheFileTheLoaderLoaded)
{
    for (const LoadCase& loadCase : loadCases(scratch.size())) {
        if (loadCase.posixOnly && onWindows) continue;
        SCOPED_TRACE(loadCase.name);

        const ProbeAnswer record = askProbe(placeCopy(loadCase), "probeModuleRecord");

        const std::wstring wideScratch(scratch.begin(), scratch.end());
        const std::wstring directory =
            loadCase.recordedIn.empty() ? L"" : wideScratch + withSeparators(L"/" + loadCase.recordedIn + L"/");
        const std::wstring wideName(libraryName, libraryName + sizeof libraryName - 1);
        EXPECT_EQ(directory.empty() ? L"" : directory + wideName, record.first);
        EXPECT_EQ(directory, record.second);
    }
}

TEST_F(ModulePathTest, PathWithoutDriveLetterSplitsIntoItsDirectory)
{
    const std::wstring path = withSeparators(std::wstring(L"//server/share/dir/Corsivet.so"));
    const ProbeAnswer parts = askProbe(probe, "probeSplitPath", path);
    EXPECT_EQ(L"", parts.first);
    EXPECT_EQ(withSeparators(std::wstring(L"//server/share/dir/")), parts.second);
}

}  // namespace
