#include "host/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vorlix {
namespace {

std::atomic<std::uint64_t> g_type_asks{0};

}  // namespace

std::unique_ptr<LogFile> LogFile::open_append(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    return std::unique_ptr<LogFile>(new LogFile(fd));
}

LogFile::~LogFile() { ::close(static_cast<int>(handle_)); }

std::optional<std::uint64_t> LogFile::size() const {
    struct stat info {};
    if (::fstat(static_cast<int>(handle_), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

bool LogFile::cut() { return ::ftruncate(static_cast<int>(handle_), 0) == 0; }

bool LogFile::append(std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(static_cast<int>(handle_), data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void write_standard_error(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

bool standard_error_may_block() {
    g_type_asks.fetch_add(1);
    struct stat info {};
    if (::fstat(STDERR_FILENO, &info) != 0) return false;
    return !S_ISREG(info.st_mode) && !S_ISCHR(info.st_mode);
}

std::uint64_t standard_error_type_asks() { return g_type_asks.load(); }

std::optional<std::uint64_t> file_size_of(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace vorlix
