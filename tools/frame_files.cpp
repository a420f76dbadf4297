#include "frame_files.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "errors.h"
#include "imaging/imaging_error.h"
#include "pending_file.h"

namespace tarnscsi::tool {

void WriteFits(const std::filesystem::path& path, const Image16& image, const FitsKeywords& keywords, bool overwrite) {
    PendingFile pending(path, overwrite);
    try {
        imaging::WriteFitsFile(pending.TempPath(), image, keywords, path);
    } catch (const imaging::ImagingError& e) {
        throw ToolError(e.what());
    }
    pending.Commit();
}

void WritePngPreview(const std::filesystem::path& path, const Image16& image, bool overwrite) {
    PendingFile pending(path, overwrite);
    const auto fail = [&path](const std::string& why) {
        return ToolError("cannot write PNG preview " + path.string() + ": " + why);
    };
    // "x": the temporary name is this call's alone; never open another's.
    std::FILE* file = std::fopen(pending.TempName().c_str(), "wbx");
    if (file == nullptr) throw fail(ErrnoText(errno));
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, &std::fclose);
    try {
        imaging::WritePngPreviewFile(file, image, path.string());
    } catch (const imaging::ImagingError& e) {
        throw ToolError(e.what());
    }
    if (std::fclose(closer.release()) != 0) throw fail(ErrnoText(errno));
    pending.Commit();
}

}  // namespace tarnscsi::tool
