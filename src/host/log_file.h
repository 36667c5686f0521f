// The open log file under the log writer: appending, cutting to length 0 and
// asking for the size, through the system's own file handle (src/win,
// src/native). Other openers may read, write and delete the file meanwhile.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

namespace vorlix {

class LogFile {
public:
    // Opens the file for appending, creating it when missing; nothing on failure.
    static std::unique_ptr<LogFile> open_append(const std::filesystem::path& path);

    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    std::optional<std::uint64_t> size() const;
    // Sets the file's length to 0.
    bool cut();
    // Appends all of `data` at the end of the file.
    bool append(std::string_view data);

private:
    explicit LogFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

// Writes the text to the process's standard error as it was handed to the
// process (a program without a console still reaches the terminal or pipe
// that started it); nothing when there is none or it cannot be written.
void write_standard_error(std::string_view text);

// Whether a write to standard error may wait for a reader: true for a pipe, a
// socket or anything else that is neither a disk file nor a character device
// (a console or a terminal); false when there is no standard error.
bool standard_error_may_block();

// How often this process asked standard_error_may_block (for tests).
std::uint64_t standard_error_type_asks();

// The size of the file at `path`, or nothing when it cannot be looked up.
std::optional<std::uint64_t> file_size_of(const std::filesystem::path& path);

}  // namespace vorlix
