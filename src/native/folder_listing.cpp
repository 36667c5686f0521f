// Folder listings and the system time on Linux.
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <system_error>

#include "files/screenshots_watch.h"

namespace vorlix {

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochSeconds = 11'644'473'600;

std::uint64_t filetime_of(std::int64_t seconds, std::uint32_t nanoseconds) {
    if (seconds < -kUnixEpochSeconds) return 0;
    return static_cast<std::uint64_t>(seconds + kUnixEpochSeconds) * 10'000'000u + nanoseconds / 100u;
}

// The birth time where the file system keeps one, else the last change of
// the content.
std::optional<std::uint64_t> creation_time(const std::filesystem::path& path) {
    struct statx info {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &info) != 0) {
        return std::nullopt;
    }
    if ((info.stx_mask & STATX_BTIME) != 0) return filetime_of(info.stx_btime.tv_sec, info.stx_btime.tv_nsec);
    return filetime_of(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
}

}  // namespace

std::optional<std::vector<FolderEntry>> list_folder_entries(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error) return std::nullopt;
    std::vector<FolderEntry> entries;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        const auto& item = *it;
        FolderEntry entry;
        entry.path = item.path();
        entry.name = entry.path.filename().string();
        std::error_code kind_error;
        const auto status = item.symlink_status(kind_error);
        if (kind_error) continue;
        entry.link = std::filesystem::is_symlink(status);
        entry.directory = std::filesystem::is_directory(status);
        if (std::filesystem::is_regular_file(status)) {
            std::error_code size_error;
            const auto size = item.file_size(size_error);
            if (size_error) continue;
            entry.size = size;
        }
        const auto created = creation_time(entry.path);
        if (!created) continue;
        entry.created = *created;
        entries.push_back(std::move(entry));
    }
    if (error) return std::nullopt;
    return entries;
}

std::uint64_t system_time_now() {
    const auto since_1970 = std::chrono::system_clock::now().time_since_epoch();
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(since_1970).count();
    const std::int64_t seconds = nanoseconds / 1'000'000'000;
    std::int64_t rest = nanoseconds % 1'000'000'000;
    if (rest < 0) return filetime_of(seconds - 1, static_cast<std::uint32_t>(rest + 1'000'000'000));
    return filetime_of(seconds, static_cast<std::uint32_t>(rest));
}

}  // namespace vorlix
