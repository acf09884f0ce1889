// Linux, macOS and other Unix systems: no loader callback tells the library
// its file, so a static initialiser asks the dynamic linker which file holds
// the record's own address.

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "module_path_record.h"

std::wstring modulePath;

namespace {

// How many bytes the UTF-8 sequence starting with `lead` has; 0 where `lead`
// cannot start one.
std::size_t sequenceLength(unsigned char lead)
{
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

// Decodes the `length`-byte sequence at `at` into `codePoint`. False where
// the sequence is cut short, overlong, a surrogate or beyond Unicode.
bool decodeSequence(const std::string& bytes, std::size_t at, std::size_t length, unsigned long& codePoint)
{
    static const unsigned char leadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    static const unsigned long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (length == 0 || at + length > bytes.size()) {
        return false;
    }
    codePoint = static_cast<unsigned char>(bytes[at]) & leadBits[length];
    for (std::size_t next = at + 1; next < at + length; ++next) {
        const unsigned char byte = static_cast<unsigned char>(bytes[next]);
        if ((byte & 0xC0) != 0x80) {
            return false;
        }
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    return codePoint >= smallest[length] && codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
}

// Decodes UTF-8 whatever the process locale is, which at load time is
// usually "C". A byte that does not start a valid sequence becomes the lone
// surrogate U+DC80 to U+DCFF, so nothing of the path is lost or cut and the
// original bytes can still be told apart.
std::wstring decodeUtf8(const std::string& bytes)
{
    std::wstring text;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const unsigned char lead = static_cast<unsigned char>(bytes[at]);
        const std::size_t length = sequenceLength(lead);
        unsigned long codePoint = 0;
        if (decodeSequence(bytes, at, length, codePoint)) {
            text += static_cast<wchar_t>(codePoint);
            at += length;
        } else {
            text += static_cast<wchar_t>(0xDC00 + lead);
            at += 1;
        }
    }
    return text;
}

// The path the dynamic linker mapped this library from, made absolute against
// the working directory when the linker was given a relative one. Symbolic
// links are kept as they were given. Empty when the linker cannot tell.
std::string findLibraryFile()
{
    Dl_info info;
    if (dladdr(&modulePath, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
        return std::string();
    }
    std::string path = info.dli_fname;
    if (path[0] == '/') {
        return path;
    }

    char workingDirectory[PATH_MAX] = {};
    if (getcwd(workingDirectory, sizeof workingDirectory) == nullptr) {
        return std::string();
    }
    while (path.compare(0, 2, "./") == 0) {
        path.erase(0, 2);
    }
    const std::string folder = workingDirectory;
    return folder == "/" ? folder + path : folder + "/" + path;
}

// Fills the record; true once it has tried, whatever it found.
bool recordModulePath() noexcept
{
    // An exception leaving a static initialiser would end the process that
    // loads the library; out of memory, the record stays empty instead.
    try {
        const std::wstring path = decodeUtf8(findLibraryFile());
        // Held to the same bound as on Windows: a path that long is not
        // recorded, rather than recorded cut.
        if (path.size() <= maxRecordedPathLength) {
            modulePath = path;
        }
    } catch (...) {
        // The record stays empty.
        modulePath.clear();
    }
    return true;
}

// Static initialisers in one file run in the order they are defined, so the
// record above is constructed before this fills it, while the library is
// being loaded and before the interpreter can call Init_Corsivet.
const bool recordedAtLoad = recordModulePath();

}  // namespace

void splitDriveAndDirectory(const std::wstring& path, wchar_t (&drive)[pathBufferLength],
                            wchar_t (&directory)[pathBufferLength])
{
    drive[0] = L'\0';
    const std::size_t lastSeparator = path.rfind(L'/');
    std::size_t length = lastSeparator == std::wstring::npos ? 0 : lastSeparator + 1;
    // A directory too long for the buffer would come out cut; none at all is
    // the honest answer. The record never holds a path that long.
    if (length >= pathBufferLength) {
        length = 0;
    }
    path.copy(directory, length);
    directory[length] = L'\0';
}
