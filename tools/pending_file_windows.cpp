// Publishing files on Windows: FlushFileBuffers, MoveFileExW with or
// without replacing, wide-character paths throughout.
#include <windows.h>

#include <cstring>
#include <string>
#include <system_error>

#include "errors.h"
#include "pending_file.h"
#include "pending_file_system.h"
#include "windows_file_names.h"

namespace tarnscsi::tool::pending_detail {

namespace fs = std::filesystem;

namespace {

// NTFS and FAT32 take names of up to 255 characters; the ANSI file functions
// the FITS and PNG writers use take paths shorter than MAX_PATH.
constexpr std::size_t kNameLimit = 255;

// The system's message for a Win32 error code, without its line break.
std::string WindowsErrorText(DWORD code) {
    std::string text = std::system_category().message(static_cast<int>(code));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
    return text;
}

}  // namespace

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

bool ProcessIsGone(long id) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
    if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

std::size_t NameLimit(const fs::path& /*folder*/) { return kNameLimit; }

std::size_t PathLimit() { return MAX_PATH; }

bool IsNameTooLong(const std::error_code& error) {
    return error.value() == ERROR_FILENAME_EXCED_RANGE || error == std::errc::filename_too_long;
}

// Whether a folder takes new files shows only when one is created: the
// temporary file's creation says so, naming the folder.
std::string FolderNotWritable(const fs::path& /*folder*/) { return {}; }

std::string TargetNotWritable(const fs::path& target) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return "it is read-only";
    return {};
}

// cfitsio and the PNG writer open files with fopen(), which reads a path in
// the ANSI code page, and the standard library reads a narrow path the same
// way: a name outside ASCII could come out as another file. Refused before
// anything is done.
// Characters Windows takes in no file name; a ':' only after a drive letter.
constexpr char kReservedCharacters[] = "<>\"|?*";
constexpr std::size_t kDriveColon = 1;  // "C:"

std::string UnsupportedName(const std::string& path) {
    constexpr unsigned char kFirstNonAscii = 0x80;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c >= kFirstNonAscii) {
            return "the Windows tool writes files only under paths of ASCII letters, digits and punctuation "
                   "(its FITS and PNG writers open files by their ANSI name); choose a folder and file name "
                   "without accented or other letters";
        }
        if (std::strchr(kReservedCharacters, c) != nullptr || (c == ':' && i != kDriveColon)) {
            return std::string("Windows file names cannot contain ") + path[i] + "; choose another name";
        }
    }
    return {};
}

std::string UnpublishableName(const std::string& target) { return WindowsNameProblem(target); }

void FlushToDisk(const fs::path& file) {
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        throw ToolError("cannot open file " + file.string() + ": " + WindowsErrorText(GetLastError()));
    }
    const BOOL flushed = FlushFileBuffers(handle);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (!flushed) throw ToolError("cannot flush file " + file.string() + " to disk: " + WindowsErrorText(error));
}

// MOVEFILE_WRITE_THROUGH makes the rename durable before it returns.
void FlushFolder(const fs::path& /*folder*/) noexcept {}

void KeepAttributes(const fs::path& /*temp*/, const fs::path& target) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;  // nothing to replace
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
        throw ToolError(target.string() + " is not a regular file; it is never replaced");
    }
}

void Publish(const fs::path& temp, const fs::path& target, bool overwrite) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (overwrite ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(temp.c_str(), target.c_str(), flags)) return;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        throw ToolError(target.string() + " already exists; use --overwrite to replace it");
    }
    throw ToolError("cannot rename " + temp.string() + " to " + target.string() + ": " + WindowsErrorText(error));
}

bool RemoveFile(const fs::path& path) noexcept { return DeleteFileW(path.c_str()) != 0; }

}  // namespace tarnscsi::tool::pending_detail
