// A file system held in memory, for tests and the fuzz target: files are
// byte strings by path, and any operation can be told to fail.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "files/file_system.h"

namespace vorlix::test {

class MemoryFileSystem : public FileSystem,
                         public std::enable_shared_from_this<MemoryFileSystem> {
public:
    // What to refuse.
    bool fail_create = false;       // create_new fails with "disk on fire"
    bool fail_write = false;        // every write fails
    bool fail_flush = false;        // every flush fails
    bool fail_read_after_first = false;  // reads after the first one fail (once each)
    bool size_unreadable = false;   // ReadableFile::size gives nothing
    std::set<std::string> refuse_open;  // open_read refuses these paths
    bool fail_replace = false;      // replace fails
    bool fail_list = false;         // visit_names cannot read a folder
    std::vector<std::string> journal;  // "flush {path}", "close {path}", "replace {from} {to}" in order

    std::map<std::string, std::string> files;  // path text -> content
    std::set<std::string> open_for_writing;
    std::set<std::string> folders;
    int removed = 0;
    int creates = 0;  // calls of create_new

    bool exists(const std::filesystem::path& path) {
        std::lock_guard lock(mutex);
        return files.contains(path.generic_string());
    }
    std::string content(const std::filesystem::path& path) {
        std::lock_guard lock(mutex);
        return files[path.generic_string()];
    }
    void put(const std::filesystem::path& path, std::string content) {
        std::lock_guard lock(mutex);
        files[path.generic_string()] = std::move(content);
    }

    void create_folders(const std::filesystem::path& folder) override {
        std::lock_guard lock(mutex);
        folders.insert(folder.generic_string());
    }

    CreatedFile create_new(const std::filesystem::path& path) override {
        std::lock_guard lock(mutex);
        CreatedFile created;
        ++creates;
        const std::string key = path.generic_string();
        if (files.contains(key)) {
            created.exists = true;
            created.error = "exists";
            return created;
        }
        if (fail_create) {
            created.error = "disk on fire";
            return created;
        }
        files[key];
        open_for_writing.insert(key);
        created.file = std::make_unique<Writable>(shared_from_this(), key);
        return created;
    }

    void remove_file(const std::filesystem::path& path) override {
        std::lock_guard lock(mutex);
        if (open_for_writing.contains(path.generic_string())) return;  // as Windows: not while open
        removed += static_cast<int>(files.erase(path.generic_string()));
    }

    std::unique_ptr<ReadableFile> open_read(const std::filesystem::path& path) override {
        std::lock_guard lock(mutex);
        const std::string key = path.generic_string();
        if (!files.contains(key) || refuse_open.contains(key)) return nullptr;
        return std::make_unique<Readable>(shared_from_this(), files[key]);
    }

    Status replace(const std::filesystem::path& from, const std::filesystem::path& to) override {
        std::lock_guard lock(mutex);
        journal.push_back("replace " + from.generic_string() + " " + to.generic_string());
        auto it = files.find(from.generic_string());
        if (fail_replace || it == files.end()) return Error("cannot move");
        files[to.generic_string()] = std::move(it->second);
        files.erase(it);
        return {};
    }

    bool visit_names(const std::filesystem::path& folder,
                     const std::function<void(std::string_view)>& visit) override {
        std::lock_guard lock(mutex);
        if (fail_list) return false;
        for (const auto& [key, content] : files) {
            const std::filesystem::path path(key);
            if (path.parent_path() == folder) visit(path.filename().string());
        }
        return true;
    }

    std::optional<std::uint64_t> plain_file_size(const std::filesystem::path& path) override {
        std::lock_guard lock(mutex);
        auto it = files.find(path.generic_string());
        if (it == files.end()) return std::nullopt;
        return it->second.size();
    }

    std::mutex mutex;

private:
    class Writable : public WritableFile {
    public:
        Writable(std::shared_ptr<MemoryFileSystem> owner, std::string key) : owner_(std::move(owner)), key_(std::move(key)) {}
        ~Writable() override {
            std::lock_guard lock(owner_->mutex);
            owner_->open_for_writing.erase(key_);
            owner_->journal.push_back("close " + key_);
        }
        Status write_all(ByteView bytes) override {
            std::lock_guard lock(owner_->mutex);
            if (owner_->fail_write) return Error("no room");
            owner_->files[key_].append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            return {};
        }
        Status flush() override {
            std::lock_guard lock(owner_->mutex);
            owner_->journal.push_back("flush " + key_);
            if (owner_->fail_flush) return Error("flush refused");
            return {};
        }

    private:
        std::shared_ptr<MemoryFileSystem> owner_;
        std::string key_;
    };

    class Readable : public ReadableFile {
    public:
        Readable(std::shared_ptr<MemoryFileSystem> owner, std::string content)
            : owner_(std::move(owner)), content_(std::move(content)) {}
        std::optional<std::uint64_t> size() override {
            if (owner_->size_unreadable) return std::nullopt;
            return content_.size();
        }
        Result<std::size_t> read(std::uint8_t* buffer, std::size_t capacity) override {
            if (owner_->fail_read_after_first && reads_++ > 0 && !failed_last_) {
                failed_last_ = true;
                return Error("read error");
            }
            failed_last_ = false;
            // Small reads, so that filling a piece takes several.
            const std::size_t n = std::min({capacity, content_.size() - at_, std::size_t{50'000}});
            std::copy_n(content_.data() + at_, n, buffer);
            at_ += n;
            return n;
        }

    private:
        std::shared_ptr<MemoryFileSystem> owner_;
        std::string content_;
        std::size_t at_ = 0;
        int reads_ = 0;
        bool failed_last_ = false;
    };
};

}  // namespace vorlix::test
