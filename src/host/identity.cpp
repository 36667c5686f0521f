#include "host/identity.h"

#include <system_error>

#include "host/log.h"
#include "util/file_io.h"

namespace vorlix {
namespace {

constexpr std::string_view kIdentityFile = "identity.key";

// Wipes the bytes when it goes out of scope.
struct WipedBytes {
    Bytes bytes;
    ~WipedBytes() { wipe_bytes(bytes.data(), bytes.size()); }
};

struct WipedText {
    std::string text;
    ~WipedText() { wipe_bytes(text.data(), text.size()); }
};

std::optional<IdentityKey> identity_from_file(const std::string& content, const IdentityServices& services) {
    const ByteView stored(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
    std::optional<Bytes> unprotected = services.unprotect(stored);
    if (!unprotected) return std::nullopt;
    WipedBytes plain{std::move(*unprotected)};
    if (plain.bytes.size() != 32) return std::nullopt;
    Key32 seed;
    std::copy(plain.bytes.begin(), plain.bytes.end(), seed.begin());
    IdentityKey identity(ed25519_from_seed(seed));
    wipe_key32(seed);
    return identity;
}

// Writes the protected seed through a temporary file.
Status store_identity(const std::filesystem::path& data_folder, const IdentityKey& identity,
                      const IdentityServices& services) {
    const Key32& seed = identity.keys().secret_key;
    WipedBytes stored{services.protect(ByteView(seed.data(), seed.size()))};
    FileSystem& files = services.files ? *services.files : *system_file_system();
    return write_file_durably(
        files, data_folder / kIdentityFile,
        std::string_view(reinterpret_cast<const char*>(stored.bytes.data()), stored.bytes.size()));
}

}  // namespace

std::string sha256_hex(ByteView data) {
    const Digest32 digest = sha256(data);
    return hex_lower(digest);
}

std::string IdentityKey::fingerprint() const { return sha256_hex(keys_.public_key); }

IdentityKey load_identity(const std::filesystem::path& data_folder, const IdentityServices& services) {
    const std::filesystem::path path = data_folder / kIdentityFile;
    bool keep_for_this_run_only = false;
    Result<std::string> read = read_whole_file(path);
    std::error_code look_up;
    if (!read.ok() && std::filesystem::exists(path, look_up)) {
        // There, but unreadable (locked, no access): never write over it.
        Result<std::filesystem::path> aside = set_file_aside(path, "unreadable");
        if (aside.ok()) {
            log_line("identity.key could not be read; set aside as " + path_text(aside->filename()));
        } else {
            log_line("identity.key could not be read and not set aside (" + aside.error().text +
                     "); a new identity is kept for this run only");
            keep_for_this_run_only = true;
        }
    }
    if (read.ok()) {
        WipedText content{std::move(read.value())};
        if (std::optional<IdentityKey> identity = identity_from_file(content.text, services)) return *identity;
        log_line("identity.key could not be read; making a new identity (paired devices must pair again)");
        // The old file may still be usable elsewhere (another user's DPAPI, a
        // profile that comes back): keep it under another name.
        Result<std::filesystem::path> aside = set_file_aside(path, "unusable");
        if (aside.ok()) {
            log_line("identity.key set aside as " + path_text(aside->filename()));
        } else {
            log_line("identity.key could not be set aside (" + aside.error().text +
                     "); the new identity is kept for this run only");
            keep_for_this_run_only = true;
        }
    }
    IdentityKey identity(services.new_key());
    if (!keep_for_this_run_only) {
        if (Status stored = store_identity(data_folder, identity, services); !stored.ok()) {
            log_line("identity.key could not be stored (" + stored.error().text +
                     "); the new identity is kept for this run only");
        }
    }
    return identity;
}

}  // namespace vorlix
