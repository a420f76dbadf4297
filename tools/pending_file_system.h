// What publishing a file needs of the system (pending_file_posix.cpp,
// pending_file_windows.cpp); pending_file.cpp builds on it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace tarnscsi::tool::pending_detail {

unsigned long CurrentProcessId();
// Whether the process `id` has surely ended (a temporary of its is stale).
bool ProcessIsGone(long id);

// The longest file name `folder` takes, and the longest path, in the units of
// the path's native string.
std::size_t NameLimit(const std::filesystem::path& folder);
std::size_t PathLimit();
// Whether looking up a path failed because it is too long.
bool IsNameTooLong(const std::error_code& error);

// "" when the tool may write files in `folder` / replace `target`; else why not.
std::string FolderNotWritable(const std::filesystem::path& folder);
std::string TargetNotWritable(const std::filesystem::path& target);
// "" when the writers can open files under `path` (UTF-8) on this system;
// else why not.
std::string UnsupportedName(const std::string& path);
// "" when a file published as `target` gets exactly that name; else why not
// (on Windows: a device name, a name ending in a dot or a space).
std::string UnpublishableName(const std::string& target);

// Flushes the file to disk. Throws ToolError.
void FlushToDisk(const std::filesystem::path& file);
// Makes a new name in `folder` durable where the system needs it; failures are
// ignored (some filesystems refuse, and the file is in place either way).
void FlushFolder(const std::filesystem::path& folder) noexcept;
// Gives `temp` what of the replaced `target` should stay (its mode and owner);
// throws ToolError when `target` is not a regular file.
void KeepAttributes(const std::filesystem::path& temp, const std::filesystem::path& target);
// Renames `temp` to `target` in one step; without `overwrite` never replaces
// an existing target. Throws ToolError.
void Publish(const std::filesystem::path& temp, const std::filesystem::path& target, bool overwrite);
// Removes a file; false when it could not.
bool RemoveFile(const std::filesystem::path& path) noexcept;

}  // namespace tarnscsi::tool::pending_detail
