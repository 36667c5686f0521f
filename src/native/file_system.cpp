// The system's files on Linux, through POSIX calls.
#include "files/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorlix {

namespace {

std::string errno_text(int code) { return std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")"; }

class PosixWritableFile : public WritableFile {
public:
    explicit PosixWritableFile(int fd) : fd_(fd) {}
    ~PosixWritableFile() override { ::close(fd_); }

    Status write_all(ByteView bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return Error(errno_text(errno));
            }
            if (n == 0) return Error("nothing was written");
            done += static_cast<std::size_t>(n);
        }
        return {};
    }

    Status flush() override {
        if (::fsync(fd_) != 0) return Error(errno_text(errno));
        return {};
    }

private:
    int fd_;
};

class PosixReadableFile : public ReadableFile {
public:
    explicit PosixReadableFile(int fd) : fd_(fd) {}
    ~PosixReadableFile() override { ::close(fd_); }

    std::optional<std::uint64_t> size() override {
        struct stat info {};
        if (::fstat(fd_, &info) != 0) return std::nullopt;
        return static_cast<std::uint64_t>(info.st_size);
    }

    Result<std::size_t> read(std::uint8_t* buffer, std::size_t capacity) override {
        while (true) {
            ssize_t n = ::read(fd_, buffer, capacity);
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno != EINTR) return Error(errno_text(errno));
        }
    }

private:
    int fd_;
};

class PosixFileSystem : public FileSystem {
public:
    CreatedFile create_new(const std::filesystem::path& path) override {
        CreatedFile created;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            created.exists = errno == EEXIST;
            created.error = errno_text(errno);
            return created;
        }
        created.file = std::make_unique<PosixWritableFile>(fd);
        return created;
    }

    void remove_file(const std::filesystem::path& path) override { ::unlink(path.c_str()); }

    Status replace(const std::filesystem::path& from, const std::filesystem::path& to) override {
        if (::rename(from.c_str(), to.c_str()) != 0) return Error(errno_text(errno));
        // The new name lives in the folder: flush the folder too.
        std::filesystem::path folder = to.parent_path();
        if (folder.empty()) folder = ".";
        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return Error(errno_text(errno));
        const int synced = ::fsync(fd);
        const int code = errno;
        ::close(fd);
        if (synced != 0) return Error(errno_text(code));
        return {};
    }

    std::unique_ptr<ReadableFile> open_read(const std::filesystem::path& path) override {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
            ::close(fd);
            return nullptr;
        }
        return std::make_unique<PosixReadableFile>(fd);
    }
};

}  // namespace

std::shared_ptr<FileSystem> system_file_system() {
    static const std::shared_ptr<FileSystem> shared = std::make_shared<PosixFileSystem>();
    return shared;
}

}  // namespace vorlix
