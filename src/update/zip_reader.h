// The update archive: a small ZIP reader (stored and deflated entries, no
// ZIP64, no data descriptors, one disk) that takes out the wanted files, and
// the check that the program file in it is a Windows program for x86-64.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

inline constexpr std::string_view kProgramFileName = "Vorlix.exe";
inline constexpr std::string_view kCameraFileName = "VorLixCamera.dll";

struct ZipFile {
    std::string name;  // the wanted name exactly as listed
    Bytes bytes;
    bool operator==(const ZipFile&) const = default;
};

// The entries whose names match a wanted name (ASCII case ignored), in the
// order of the central directory. Only the first entry of each wanted name
// is taken: a second one is skipped unread, so that no unchecked copy can
// replace the checked one.
Result<std::vector<ZipFile>> read_zip(ByteView zip, std::span<const std::string_view> wanted);

// read_zip for "Vorlix.exe" and "VorLixCamera.dll", with the program file
// required and checked to be a PE program for x86-64.
Result<std::vector<ZipFile>> check_package_zip(ByteView zip);

// The signature covers the archive, not the manifest that names its version:
// the program file's version resource ("FileVersion") must name `version`,
// so that an older signed archive cannot be offered as a newer version.
Result<void> check_program_version(const std::vector<ZipFile>& files, std::string_view version);

}  // namespace vorlix
