#include "files/file_system.h"

#include <system_error>

#include "app/text.h"

namespace vorlix {

namespace {

std::string native_text(const std::filesystem::path::string_type& units) {
#ifdef _WIN32
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    return utf16_to_utf8(reinterpret_cast<const char16_t*>(units.data()), units.size());
#else
    if (is_valid_utf8(units)) return units;
    // A round trip through UTF-16 replaces every invalid sequence.
    return utf16_to_utf8(utf8_to_utf16(units));
#endif
}

}  // namespace

void FileSystem::create_folders(const std::filesystem::path& folder) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
}

std::optional<std::uint64_t> FileSystem::plain_file_size(const std::filesystem::path& path) {
    std::error_code error;
    auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::is_regular_file(status)) return std::nullopt;
    auto size = std::filesystem::file_size(path, error);
    if (error) return std::nullopt;
    return static_cast<std::uint64_t>(size);
}

std::string file_name_text(const std::filesystem::path& path) { return native_text(path.filename().native()); }

std::string full_path_text(const std::filesystem::path& path) { return native_text(path.native()); }

}  // namespace vorlix
