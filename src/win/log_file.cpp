#include "host/log_file.h"

#include <windows.h>

#include <atomic>

namespace vorlix {
namespace {

std::atomic<std::uint64_t> g_type_asks{0};

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

std::unique_ptr<LogFile> LogFile::open_append(const std::filesystem::path& path) {
    // Write access (not append-only) so that the file can also be cut; every
    // append moves to the end first.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::unique_ptr<LogFile>(new LogFile(reinterpret_cast<std::intptr_t>(file)));
}

LogFile::~LogFile() { CloseHandle(as_handle(handle_)); }

std::optional<std::uint64_t> LogFile::size() const {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(as_handle(handle_), &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

bool LogFile::cut() {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = 0;
    return SetFileInformationByHandle(as_handle(handle_), FileEndOfFileInfo, &end, sizeof end) != 0;
}

bool LogFile::append(std::string_view data) {
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(as_handle(handle_), zero, nullptr, FILE_END)) return false;
    while (!data.empty()) {
        DWORD chunk = data.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(data.size());
        DWORD written = 0;
        if (!WriteFile(as_handle(handle_), data.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        data.remove_prefix(written);
    }
    return true;
}

void write_standard_error(std::string_view text) {
    // The C runtime's stderr of a program without a console goes nowhere;
    // the handle the process was started with reaches the terminal or pipe.
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    while (!text.empty()) {
        DWORD written = 0;
        const DWORD chunk = text.size() > 0x10000 ? 0x10000 : static_cast<DWORD>(text.size());
        if (!WriteFile(handle, text.data(), chunk, &written, nullptr) || written == 0) return;
        text.remove_prefix(written);
    }
}

bool standard_error_may_block() {
    g_type_asks.fetch_add(1);
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    const DWORD type = GetFileType(handle);
    return type != FILE_TYPE_DISK && type != FILE_TYPE_CHAR;
}

std::uint64_t standard_error_type_asks() { return g_type_asks.load(); }

std::optional<std::uint64_t> file_size_of(const std::filesystem::path& path) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) return std::nullopt;
    return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

}  // namespace vorlix
