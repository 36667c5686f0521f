// The random source of the Windows build: the system-preferred generator
// (BCryptGenRandom), then the older RtlGenRandom.
#include "crypto/random.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>

// RtlGenRandom is exported by advapi32 under this name; declared here so that
// ntsecapi.h, which clashes with other headers, stays out.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

namespace vorlix {

namespace {

constexpr ULONG kSystemPreferredRng = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG
constexpr std::size_t kChunk = 0x40000000;         // well inside a ULONG

std::uint32_t preferred(std::uint8_t* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ULONG part = static_cast<ULONG>(std::min(kChunk, size - done));
        const NTSTATUS status = BCryptGenRandom(nullptr, data + done, part, kSystemPreferredRng);
        if (!nt_success(static_cast<std::uint32_t>(status))) return static_cast<std::uint32_t>(status);
        done += part;
    }
    return 0;
}

bool older(std::uint8_t* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ULONG part = static_cast<ULONG>(std::min(kChunk, size - done));
        if (!SystemFunction036(data + done, part)) return false;
        done += part;
    }
    return true;
}

}  // namespace

void random_bytes(std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    if (const auto failure = fill_random_with_fallback(data, size, preferred, older))
        stop_without_random_source(*failure);
}

}  // namespace vorlix
