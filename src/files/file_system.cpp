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

Status FileSystem::replace(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code error;
    std::filesystem::rename(from, to, error);
    if (error) return Error(error.message());
    return {};
}

bool FileSystem::visit_names(const std::filesystem::path& folder,
                             const std::function<void(std::string_view)>& visit) {
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        visit(file_name_text(it->path()));
    }
    return !error;
}

Status write_file_durably(FileSystem& files, const std::filesystem::path& path, std::string_view content) {
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    const std::string name = file_name_text(path);
    files.remove_file(temporary);  // left over from an earlier failure
    CreatedFile created = files.create_new(temporary);
    if (!created.file) return Error("could not create " + name + ".tmp: " + created.error);
    Status done = created.file->write_all(
        ByteView(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()));
    if (done.ok()) done = created.file->flush();
    created.file.reset();  // closed before the move
    if (done.ok()) done = files.replace(temporary, path);
    if (!done.ok()) {
        files.remove_file(temporary);
        return Error("could not write " + name + ": " + done.error().text);
    }
    return {};
}

std::string file_name_text(const std::filesystem::path& path) { return native_text(path.filename().native()); }

std::string full_path_text(const std::filesystem::path& path) { return native_text(path.native()); }

}  // namespace vorlix
