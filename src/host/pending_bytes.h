// The pending bytes of a link: received bytes not yet cut into frames, in one
// buffer the socket reads into directly. The link before sign-in and the
// signed-in reader loop read into the same buffer, so that frames a peer
// sends right after its last handshake step are kept.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "util/bytes.h"

namespace vorlix {

inline constexpr std::size_t kReadBufferSize = 262144;
inline constexpr std::size_t kCompactAfter = 1048576;
inline constexpr std::size_t kShrinkAbove = 8388608;
inline constexpr std::size_t kShrinkTo = 1048576;

class PendingBytes {
public:
    // Room for `size` more bytes after the pending ones. Frames viewed in the
    // pending bytes stay valid until the next call.
    std::uint8_t* room(std::size_t size) {
        if (begin_ == end_) {
            begin_ = end_ = 0;
            if (capacity_ > kShrinkAbove) reallocate(std::max(kShrinkTo, size));
        } else if (begin_ > kCompactAfter) {
            move_to_front();
        }
        if (capacity_ - end_ < size) {
            move_to_front();
            if (capacity_ - end_ < size) reallocate(std::max(capacity_ * 2, end_ + size));
        }
        return buffer_.get() + end_;
    }
    void received(std::size_t count) { end_ += count; }
    std::size_t unconsumed() const { return end_ - begin_; }
    ByteView view() const { return ByteView(buffer_.get() + begin_, unconsumed()); }
    void consume(std::size_t count) { begin_ += count; }

private:
    void move_to_front() {
        if (begin_ == 0) return;
        std::memmove(buffer_.get(), buffer_.get() + begin_, unconsumed());
        end_ -= begin_;
        begin_ = 0;
    }
    // Left uninitialised: every byte is received before it is read.
    void reallocate(std::size_t capacity) {
        std::unique_ptr<std::uint8_t[]> larger(new std::uint8_t[capacity]);
        if (unconsumed() != 0) std::memcpy(larger.get(), buffer_.get() + begin_, unconsumed());
        end_ -= begin_;
        begin_ = 0;
        buffer_ = std::move(larger);
        capacity_ = capacity;
    }

    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

}  // namespace vorlix
