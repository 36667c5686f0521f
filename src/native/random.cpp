// The random source of the native build: the kernel's getrandom.
#include "crypto/random.h"

#include <sys/random.h>

#include <cerrno>

namespace vorlix {

void random_bytes(std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = getrandom(data + done, size - done, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            stop_without_random_source(static_cast<std::uint32_t>(errno));
        }
        done += static_cast<std::size_t>(got);
    }
}

}  // namespace vorlix
