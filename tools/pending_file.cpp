#include "pending_file.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <regex>
#include <system_error>

#include "errors.h"
#include "interrupt.h"
#include "pending_file_system.h"

namespace tarnscsi::tool {

namespace fs = std::filesystem;
using namespace pending_detail;

namespace {

std::atomic<unsigned> tempCounter{0};

fs::path FolderOf(const fs::path& target) { return target.has_parent_path() ? target.parent_path() : fs::path("."); }

constexpr char kTempMarker[] = ".part-";
// ".NAME.part-PID-N": the process id in group 1.
const std::regex& TempNamePattern() {
    static const std::regex pattern(R"(\..+\.part-([0-9]+)-[0-9]+)");
    return pattern;
}

// ".NAME.part-PID-N", hidden. NAME is cut short where the whole would be
// longer than the folder takes, so that any name the target may have, its
// temporary may have too.
fs::path TempNameFor(const fs::path& target, unsigned counter) {
    // Appended piece by piece: "..." + std::string&& trips GCC 12's -Wrestrict at -O2 (a false positive).
    std::string suffix = kTempMarker;
    suffix += std::to_string(CurrentProcessId());
    suffix += '-';
    suffix += std::to_string(counter);
    std::string name = target.filename().string();
    const fs::path folder = FolderOf(target);
    const std::size_t limit = NameLimit(folder);
    const std::size_t room = limit > suffix.size() + 2 ? limit - suffix.size() - 1 : 1;
    if (name.size() > room) name.resize(room);
    return folder / ("." + name + suffix);
}

// Unique to this process and call; a stale file of the same name (from a
// process that crashed with the same id) is stepped over.
fs::path ChooseTempName(const fs::path& target) {
    for (;;) {
        const fs::path candidate = TempNameFor(target, tempCounter++);
        std::error_code ignored;
        if (!fs::exists(fs::symlink_status(candidate, ignored))) return candidate;
    }
}

}  // namespace

PendingFile::PendingFile(fs::path finalPath, bool replace)
    : target(std::move(finalPath)),
      temp(ChooseTempName(target)),
      tempName(temp.string()),
      overwrite(replace),
      signalSlot(RememberTemporary(temp)) {}

PendingFile::~PendingFile() {
    if (!committed) RemoveFile(temp);
    ForgetTemporary(signalSlot);
}

void PendingFile::Commit() {
    FlushToDisk(temp);
    if (overwrite) KeepAttributes(temp, target);
    Publish(temp, target, overwrite);
    committed = true;
    FlushFolder(FolderOf(target));
}

void CheckWritable(const fs::path& target, bool overwrite) {
    // Before anything is looked up: Windows finds a device under such a name.
    if (const std::string problem = UnpublishableName(target.string()); !problem.empty()) {
        throw UsageError(target.string() + ": " + problem);
    }
    const fs::path folder = FolderOf(target);
    std::error_code error;
    const auto folderStatus = fs::status(folder, error);
    if (!fs::exists(folderStatus)) throw UsageError("folder " + folder.string() + " does not exist");
    if (!fs::is_directory(folderStatus)) throw UsageError(folder.string() + " is not a folder");
    if (const std::string problem = FolderNotWritable(folder); !problem.empty()) {
        throw UsageError("folder " + folder.string() + " is not writable: " + problem);
    }
    const auto targetStatus = fs::symlink_status(target, error);
    if (IsNameTooLong(error)) {
        throw UsageError(target.string() + ": the name is too long (a file name takes at most " +
                         std::to_string(NameLimit(folder)) + " bytes, a path " + std::to_string(PathLimit() - 1) + ")");
    }
    // The temporary file's path is longer than the target's by its marker.
    if (TempNameFor(target, std::numeric_limits<unsigned>::max()).native().size() >= PathLimit()) {
        throw UsageError(target.string() + ": the path is too long to be written safely (at most " +
                         std::to_string(PathLimit() - 1) + " bytes with its temporary file's marker)");
    }
    if (!fs::exists(targetStatus)) return;
    if (fs::is_directory(fs::status(target, error))) throw UsageError(target.string() + " is a folder");
    if (!overwrite) throw UsageError(target.string() + " already exists; use --overwrite to replace it");
    if (!fs::is_regular_file(targetStatus)) {
        throw UsageError(target.string() + " is not a regular file (a device, link or pipe); it is never replaced");
    }
    if (const std::string problem = TargetNotWritable(target); !problem.empty()) {
        throw UsageError(target.string() + " is not writable for you (" + problem + "); it is not replaced");
    }
}

std::string UnsupportedPathName(const std::string& path) { return UnsupportedName(path); }

int RemoveStaleTemporaries(const fs::path& folder) {
    int removed = 0;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        // Any name may be in the folder: read as UTF-8, which never fails.
        const std::u8string text = it->path().filename().u8string();
        const std::string name(text.begin(), text.end());
        std::smatch match;
        if (!std::regex_match(name, match, TempNamePattern())) continue;
        const long pid = std::strtol(match[1].str().c_str(), nullptr, 10);
        // Only when the process is surely gone, and only regular files.
        if (pid <= 0 || static_cast<unsigned long>(pid) == CurrentProcessId() || !ProcessIsGone(pid)) continue;
        if (!it->is_symlink() && it->is_regular_file() && RemoveFile(it->path())) ++removed;
    }
    return removed;
}

}  // namespace tarnscsi::tool
