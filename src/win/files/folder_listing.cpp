// Folder listings and the system time on Windows.
#include "win/files/folder_listing.h"

#include <string>
#include <string_view>

#include "win/system/wide.h"
#include "win/system/system_function.h"

namespace vorlix {

namespace {

// The reparse tags of symbolic links, junctions and the like carry this bit.
constexpr DWORD kNameSurrogateBit = 0x20000000;

std::uint64_t filetime_value(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// "folder\*", with the "\\?\" prefix for long absolute paths.
std::wstring search_pattern(const std::filesystem::path& folder) {
    std::wstring text = folder.native();
    for (auto& c : text) {
        if (c == L'/') c = L'\\';
    }
    if (text.empty() || text.back() != L'\\') text += L'\\';
    text += L'*';
    if (text.size() >= MAX_PATH - 12 && text.size() > 2 && text[1] == L':' && text[2] == L'\\') {
        return L"\\\\?\\" + text;
    }
    return text;
}

class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    ~FindHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

using PreciseTimeFunction = VOID(WINAPI*)(LPFILETIME);

// GetSystemTimePreciseAsFileTime where the system has it.
PreciseTimeFunction precise_time_function() {
    static const auto function =
        system_function<PreciseTimeFunction>(L"kernel32.dll", "GetSystemTimePreciseAsFileTime");
    return function;
}

}  // namespace

FolderEntry folder_entry_from(const std::filesystem::path& folder, const WIN32_FIND_DATAW& data) {
    const std::wstring name(data.cFileName, wcsnlen(data.cFileName, MAX_PATH));
    FolderEntry entry;
    entry.name = wide_to_string(name);
    entry.path = folder / name;
    entry.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                 (data.dwReserved0 & kNameSurrogateBit) != 0;
    entry.created = filetime_value(data.ftCreationTime);
    entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return entry;
}

std::optional<std::vector<FolderEntry>> list_folder_entries(const std::filesystem::path& folder) {
    WIN32_FIND_DATAW data{};
    FindHandle find(FindFirstFileW(search_pattern(folder).c_str(), &data));
    if (!find.valid()) return std::nullopt;
    std::vector<FolderEntry> entries;
    do {
        const std::wstring_view name(data.cFileName, wcsnlen(data.cFileName, MAX_PATH));
        if (name == L"." || name == L"..") continue;
        entries.push_back(folder_entry_from(folder, data));
    } while (FindNextFileW(find.get(), &data));
    return entries;
}

std::uint64_t system_time_now() {
    FILETIME now{};
    if (const auto precise = precise_time_function()) {
        precise(&now);
    } else {
        GetSystemTimeAsFileTime(&now);
    }
    return filetime_value(now);
}

}  // namespace vorlix
