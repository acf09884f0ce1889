// Linux, macOS and other Unix systems have no shell to ask for the all-users
// data folder, so the answer is the folder each system sets aside for it.

#include "common_app_data.h"

#include <cstring>

namespace {

#ifdef __APPLE__
const char commonAppDataFolder[] = "/Library/Application Support";
#else
const char commonAppDataFolder[] = "/usr/share";
#endif

static_assert(sizeof commonAppDataFolder <= sizeof(char[commonAppDataBufferSize]),
              "the fixed folder must fit the caller's buffer");

}  // namespace

void queryCommonAppDataFolder(char (&folder)[commonAppDataBufferSize])
{
    std::memcpy(folder, commonAppDataFolder, sizeof commonAppDataFolder);
}
