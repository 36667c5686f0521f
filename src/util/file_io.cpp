#include "util/file_io.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace vorlix {

std::string path_text(const std::filesystem::path& path) {
    auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

Result<std::string> read_whole_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Error("could not open " + path_text(path.filename()));
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return Error("could not read " + path_text(path.filename()));
    return content;
}

Status write_whole_file(const std::filesystem::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return Error("could not create " + path_text(path.filename()));
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (out.fail()) return Error("could not write " + path_text(path.filename()));
    return {};
}

Status replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code error;
    std::filesystem::rename(from, to, error);
    if (error) {
        return Error("could not rename " + path_text(from.filename()) + " to " +
                     path_text(to.filename()) + ": " + error.message());
    }
    return {};
}

}  // namespace vorlix
