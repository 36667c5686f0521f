// Putting an update's files in place beside the running program, with the
// roll-back of every step, over a small seam of file operations; and the
// argument and file-name rules around a restart.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/zip_reader.h"
#include "util/result.h"

namespace vorlix {

// What an install does to files. Each call answers nothing on success or
// the failure; `permission_denied` tells the one failure that has a text of
// its own.
struct FileFailure {
    bool permission_denied = false;
    std::string text;  // the system's error text
};
class UpdateFileOps {
public:
    virtual ~UpdateFileOps() = default;
    virtual bool exists(const std::filesystem::path& path) = 0;
    virtual std::optional<FileFailure> write(const std::filesystem::path& path, ByteView bytes) = 0;
    virtual std::optional<FileFailure> remove(const std::filesystem::path& path) = 0;
    // Replaces nothing: the target must be free.
    virtual std::optional<FileFailure> rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
};

// "Vorlix.exe" goes to `program` itself, any other file into its folder.
// Answers the program path, or the error text.
Result<std::filesystem::path> put_files_in_place(const std::vector<ZipFile>& files,
                                                 const std::filesystem::path& program, UpdateFileOps& ops);

// The arguments of the relaunched copy on the automatic road: the own
// arguments without the program path and "--open-pairing", then "--hidden"
// when the window was hidden (and the option is not there yet).
std::vector<std::string> build_relaunch_args(const std::vector<std::string>& args, bool window_visible);

// One argument of a command line, written so that CommandLineToArgvW reads
// it back unchanged: in double quotes, a quote inside escaped with a
// backslash, and each run of backslashes doubled where it precedes a quote
// or the closing quote (a folder such as D:\Vorlix\ keeps its last one).
std::string quote_command_line_argument(std::string_view argument);

// A leftover of an earlier install in the program's folder: the program
// file's or the camera file's name with ".old" and digits, or with ".new"
// (names compared lower-cased).
bool is_update_leftover(std::string_view name, std::string_view program_name);

// The manifest link: the value after the first "--update-url", else `fallback`.
std::string manifest_link_from_args(const std::vector<std::string>& args, std::string_view fallback);

}  // namespace vorlix
