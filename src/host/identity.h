// The host's identity: one long-term Ed25519 key pair whose seed lives in
// "identity.key" in the data folder, protected for the user (on Windows by
// DPAPI). Devices know the host by the public key, so a new identity means
// that every paired device must pair again.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "crypto/crypto.h"
#include "files/file_system.h"
#include "util/bytes.h"

namespace vorlix {

// SHA-256 of the bytes as 64 lower-case hexadecimal digits.
std::string sha256_hex(ByteView data);

// The loaded key pair; the seed is wiped when a copy is released.
class IdentityKey {
public:
    explicit IdentityKey(const Ed25519KeyPair& keys) : keys_(keys) {}
    IdentityKey(const IdentityKey&) = default;
    IdentityKey& operator=(const IdentityKey&) = default;
    ~IdentityKey() { wipe_key32(keys_.secret_key); }

    const Ed25519KeyPair& keys() const { return keys_; }
    const Key32& public_key() const { return keys_.public_key; }
    // sha256_hex of the public key.
    std::string fingerprint() const;

private:
    Ed25519KeyPair keys_;
};

// How the identity file is protected and how new keys are made. On Windows
// protect and unprotect are the platform's protect_data and unprotect_data.
struct IdentityServices {
    // The protected form of the bytes, or the bytes unchanged when protection
    // fails. Never fails.
    std::function<Bytes(ByteView)> protect;
    // The plain bytes of a stored file, or nothing.
    std::function<std::optional<Bytes>(ByteView)> unprotect;
    // A new key pair from 32 fresh random bytes.
    std::function<Ed25519KeyPair()> new_key;
    // Where the file is written; the system's files when not set.
    std::shared_ptr<FileSystem> files;
};

// Loads "identity.key" from the data folder, or makes and stores a new
// identity when there is none or it cannot be used. Never fails.
//
// A file that cannot be used is set aside under a new name rather than
// replaced, and the new file is written to "identity.key.tmp", flushed to the
// disk and moved into place, so neither a failed write nor a power cut leaves
// a half-written key behind.
IdentityKey load_identity(const std::filesystem::path& data_folder, const IdentityServices& services);

}  // namespace vorlix
