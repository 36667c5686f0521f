#include "util/file_io.h"

#include <chrono>
#include <fstream>
#include <system_error>

#include "crash/crash_log.h"

namespace vorlix {

std::string path_text(const std::filesystem::path& path) {
    auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

Result<std::string> read_whole_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Error("could not open " + path_text(path.filename()));
    // Stream reads turn read errors (a folder in the file's place, a broken
    // disk) into the bad bit instead of an exception.
    std::string content;
    char chunk[16384];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        content.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (!in) break;
    }
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

Result<std::filesystem::path> set_file_aside(const std::filesystem::path& path, std::string_view reason) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch());
    const std::string suffix =
        "." + format_utc_datetime(seconds.count() < 0 ? 0 : static_cast<std::uint64_t>(seconds.count())) + "." +
        std::string(reason);
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::filesystem::path aside = path;
        aside += suffix;
        if (attempt > 1) aside += "-" + std::to_string(attempt);
        std::error_code error;
        if (std::filesystem::exists(aside, error) || error) continue;
        std::filesystem::rename(path, aside, error);
        if (error) return Error("could not rename " + path_text(path.filename()) + ": " + error.message());
        return aside;
    }
    return Error("no free name to set " + path_text(path.filename()) + " aside");
}

}  // namespace vorlix
