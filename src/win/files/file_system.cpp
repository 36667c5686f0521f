// The system's files on Windows.
#include "files/file_system.h"

#include <windows.h>

#include <limits>
#include <string>

#include "win/system/wide.h"

namespace vorlix {

namespace {

// Long absolute paths get the "\\?\" prefix, which lifts the 260-character
// limit of the plain form.
std::wstring system_path(const std::filesystem::path& path) {
    std::wstring text = path.native();
    for (auto& c : text) {
        if (c == L'/') c = L'\\';
    }
    if (text.size() >= MAX_PATH - 12 && text.size() > 2 && text[1] == L':' && text[2] == L'\\') {
        return L"\\\\?\\" + text;
    }
    return text;
}

class WinWritableFile : public WritableFile {
public:
    explicit WinWritableFile(HANDLE handle) : handle_(handle) {}
    ~WinWritableFile() override { CloseHandle(handle_); }

    Status write_all(ByteView bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const std::size_t left = bytes.size() - done;
            const DWORD ask = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
            DWORD written = 0;
            if (!WriteFile(handle_, bytes.data() + done, ask, &written, nullptr)) {
                return Error(system_error_text(GetLastError()));
            }
            if (written == 0) return Error("nothing was written");
            done += written;
        }
        return {};
    }

    Status flush() override {
        if (!FlushFileBuffers(handle_)) return Error(system_error_text(GetLastError()));
        return {};
    }

private:
    HANDLE handle_;
};

class WinReadableFile : public ReadableFile {
public:
    explicit WinReadableFile(HANDLE handle) : handle_(handle) {}
    ~WinReadableFile() override { CloseHandle(handle_); }

    std::optional<std::uint64_t> size() override {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(handle_, &size) || size.QuadPart < 0) return std::nullopt;
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    Result<std::size_t> read(std::uint8_t* buffer, std::size_t capacity) override {
        const DWORD ask = capacity > 0x40000000u ? 0x40000000u : static_cast<DWORD>(capacity);
        DWORD got = 0;
        if (!ReadFile(handle_, buffer, ask, &got, nullptr)) {
            const DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) return std::size_t{0};
            return Error(system_error_text(code));
        }
        return static_cast<std::size_t>(got);
    }

private:
    HANDLE handle_;
};

class WinFileSystem : public FileSystem {
public:
    CreatedFile create_new(const std::filesystem::path& path) override {
        CreatedFile created;
        HANDLE handle = CreateFileW(system_path(path).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            created.exists = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
            created.error = system_error_text(code);
            return created;
        }
        created.file = std::make_unique<WinWritableFile>(handle);
        return created;
    }

    void remove_file(const std::filesystem::path& path) override { DeleteFileW(system_path(path).c_str()); }

    Status replace(const std::filesystem::path& from, const std::filesystem::path& to) override {
        // Write-through: the call returns once the move is on the disk.
        if (!MoveFileExW(system_path(from).c_str(), system_path(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return Error(system_error_text(GetLastError()));
        }
        return {};
    }

    std::unique_ptr<ReadableFile> open_read(const std::filesystem::path& path) override {
        HANDLE handle = CreateFileW(system_path(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<WinReadableFile>(handle);
    }
};

}  // namespace

std::shared_ptr<FileSystem> system_file_system() {
    static const std::shared_ptr<FileSystem> shared = std::make_shared<WinFileSystem>();
    return shared;
}

}  // namespace vorlix
