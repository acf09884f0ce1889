#include <dlfcn.h>
#include <errno.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <stdexcept>

#include "test_platform.h"

const char separator = '/';

namespace {

void check(bool succeeded, const std::string& what)
{
    if (!succeeded) {
        throw std::runtime_error(what);
    }
}

}  // namespace

std::string makeScratchFolder()
{
    char scratch[] = "/tmp/corsivet-module-path-XXXXXX";
    check(mkdtemp(scratch) != nullptr, "cannot make a scratch folder");
    char resolved[PATH_MAX];
    check(realpath(scratch, resolved) != nullptr, "cannot resolve the scratch folder");
    return resolved;
}

void removeScratchFolder(const std::string& path)
{
    // Depth first and without following links, so a link's target is left.
    nftw(
        path.c_str(), [](const char* entry, const struct stat*, int, struct FTW*) { return remove(entry); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

void makeFolders(const std::string& path)
{
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string folder = path.substr(0, end);
        check(mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST, "cannot make " + folder);
        if (end == std::string::npos) {
            return;
        }
    }
}

void copyFile(const std::string& from, const std::string& to)
{
    std::ifstream source(from.c_str(), std::ios::binary);
    std::ofstream target(to.c_str(), std::ios::binary);
    target << source.rdbuf();
    check(source.good() && target.good(), "cannot copy " + from + " to " + to);
}

void makeFolderLink(const std::string& target, const std::string& link)
{
    check(symlink(target.c_str(), link.c_str()) == 0, "cannot link " + link);
}

void changeWorkingFolder(const std::string& path)
{
    check(chdir(path.c_str()) == 0, "cannot change to " + path);
}

void* loadLibrary(const std::string& path)
{
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        throw std::runtime_error("cannot load " + path + ": " + dlerror());
    }
    return library;
}

void* findFunction(void* library, const char* name)
{
    return dlsym(library, name);
}

void unloadLibrary(void* library)
{
    dlclose(library);
}
