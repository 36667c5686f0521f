#include "win/dpapi.h"

#include <windows.h>
#include <dpapi.h>

#include <limits>

#include "crypto/crypto.h"
#include "host/log.h"

namespace vorlix {
namespace {

// Frees the system's output buffer, wiping it first (it may hold the seed).
struct LocalBlob {
    DATA_BLOB blob{};
    ~LocalBlob() {
        if (blob.pbData) {
            wipe_bytes(blob.pbData, blob.cbData);
            LocalFree(blob.pbData);
        }
    }
};

DATA_BLOB input_blob(ByteView bytes) {
    DATA_BLOB blob{};
    blob.cbData = static_cast<DWORD>(bytes.size());
    blob.pbData = const_cast<BYTE*>(bytes.data());
    return blob;
}

}  // namespace

Bytes protect_identity(ByteView plain) {
    if (plain.size() <= std::numeric_limits<DWORD>::max()) {
        DATA_BLOB input = input_blob(plain);
        LocalBlob output;
        if (CryptProtectData(&input, L"Vorlix identity", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                             &output.blob)) {
            return Bytes(output.blob.pbData, output.blob.pbData + output.blob.cbData);
        }
    }
    log_line("CryptProtectData failed; the identity is stored unprotected");
    return Bytes(plain.begin(), plain.end());
}

std::optional<Bytes> unprotect_identity(ByteView stored) {
    if (stored.size() <= std::numeric_limits<DWORD>::max()) {
        DATA_BLOB input = input_blob(stored);
        LocalBlob output;
        if (CryptUnprotectData(&input, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                               &output.blob)) {
            return Bytes(output.blob.pbData, output.blob.pbData + output.blob.cbData);
        }
    }
    if (stored.size() == 32) return Bytes(stored.begin(), stored.end());
    return std::nullopt;
}

}  // namespace vorlix
