// The tool's name and version as it signs its files (FITS SWCREATE) and
// answers --version. The version is the project's, given by the build.
#pragma once

namespace tarnscsi::tool {

inline constexpr char kSoftwareName[] = "tarnscsi " TARNSCSI_VERSION;

}  // namespace tarnscsi::tool
