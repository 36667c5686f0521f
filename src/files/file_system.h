// The few file operations that file transfer needs, behind an interface so
// that tests can make any of them fail. The system's own implementation is
// system_file_system() (src/native on Linux, src/win on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

// A file opened for writing; closed when released.
class WritableFile {
public:
    virtual ~WritableFile() = default;
    // Writes all the bytes, retrying short writes.
    virtual Status write_all(ByteView bytes) = 0;
    // Flushes the file's buffers to the disk.
    virtual Status flush() = 0;
};

// A file opened for reading; closed when released.
class ReadableFile {
public:
    virtual ~ReadableFile() = default;
    // The file's length read through the open handle; nothing when unreadable.
    virtual std::optional<std::uint64_t> size() = 0;
    // Reads up to `capacity` bytes; 0 at the end of the file.
    virtual Result<std::size_t> read(std::uint8_t* buffer, std::size_t capacity) = 0;
};

// The answer of FileSystem::create_new.
struct CreatedFile {
    std::unique_ptr<WritableFile> file;  // set on success
    bool exists = false;                 // refused because the name is taken
    std::string error;                   // the system's error text otherwise
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Creates the folder with every missing parent; failures are ignored.
    virtual void create_folders(const std::filesystem::path& folder);
    // Creates a new file for writing, never replacing an existing one. Other
    // processes may read, write and delete it while it is open.
    virtual CreatedFile create_new(const std::filesystem::path& path) = 0;
    // Deletes a file; failures are ignored.
    virtual void remove_file(const std::filesystem::path& path) = 0;
    // Opens a file for reading; nothing when it cannot be opened.
    virtual std::unique_ptr<ReadableFile> open_read(const std::filesystem::path& path) = 0;
    // The size of a plain file, following links; nothing for a folder, any
    // other kind of file or a path that cannot be read.
    virtual std::optional<std::uint64_t> plain_file_size(const std::filesystem::path& path);
    // Moves `from` over `to`, replacing it, and waits until the move itself
    // is on the disk.
    virtual Status replace(const std::filesystem::path& from, const std::filesystem::path& to);
    // Calls `visit` with the name (UTF-8) of each entry of the folder; false
    // when the folder cannot be read.
    virtual bool visit_names(const std::filesystem::path& folder, const std::function<void(std::string_view)>& visit);
};

// Replaces a small file so that a power cut leaves either the old content or
// the new one whole: the content goes to "{name}.tmp", is flushed to the
// disk, and only then takes the file's place. The temporary file is removed
// when anything fails.
Status write_file_durably(FileSystem& files, const std::filesystem::path& path, std::string_view content);

// The system's files, shared by everyone.
std::shared_ptr<FileSystem> system_file_system();

// The last component of a path as UTF-8 text (invalid characters replaced);
// empty when the path has none.
std::string file_name_text(const std::filesystem::path& path);

// A whole path as UTF-8 text (invalid characters replaced), for log lines.
std::string full_path_text(const std::filesystem::path& path);

}  // namespace vorlix
