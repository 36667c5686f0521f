// The outgoing side of a link. Everything sent on a link, from any thread, is
// a WriterItem on the link's queue; one thread per link, "vorlix-writer",
// seals and writes them in queue order. Producers hold a LinkWriter handle,
// count what they queue in its shared counters, and stop queuing once the
// writer has stopped.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "host/channel.h"
#include "net/socket.h"
#include "util/bytes.h"
#include "wire/frame.h"

namespace vorlix {

struct ControlMessage;

// One entry of a link's outgoing queue.
struct WriterItem {
    enum class Kind : std::uint8_t {
        Raw,         // bytes written as they are (whole plain handshake frames)
        InstallKey,  // becomes the send key (counter given)
        Frame,       // sealed with the send key and written
        Close,       // shut the link down and end the writer
    };

    Kind kind = Kind::Close;
    FrameType type = FrameType::Control;  // Frame
    Bytes bytes;                          // Raw: the bytes; Frame: the body
    Key32 key{};                          // InstallKey
    std::uint64_t counter = 0;            // InstallKey

    WriterItem() = default;
    WriterItem(WriterItem&& other) noexcept;
    WriterItem& operator=(WriterItem&& other) noexcept;
    WriterItem(const WriterItem&) = delete;
    WriterItem& operator=(const WriterItem&) = delete;
    ~WriterItem();

    static WriterItem raw(Bytes bytes);
    static WriterItem install_key(const Key32& key, std::uint64_t counter);
    static WriterItem frame(FrameType type, Bytes body);
    static WriterItem close();
};

// The handle of a link's outgoing side; copies share everything.
class LinkWriter {
public:
    LinkWriter() = default;

    // The shared state of a new link writer whose thread is started by the
    // caller (start_link_writer) or, in tests, driven by hand. Once more than
    // `queued_limit` bytes other than video wait in its queue, the link counts
    // as stalled: nothing more is queued and its reader ends it.
    static std::pair<LinkWriter, Receiver<WriterItem>> make(std::uint64_t queued_limit = kNoQueuedLimit);
    static constexpr std::uint64_t kNoQueuedLimit = ~std::uint64_t{0};

    bool valid() const { return running_ != nullptr; }
    bool running() const { return running_ && running_->load(); }

    // Sends an item without counting. False when the writer has gone.
    bool send(WriterItem item);

    // Counted sends: the counters go up before the send and back down when it
    // fails. Nothing is queued while the writer is not running.
    bool send_frame(FrameType type, Bytes body);
    bool send_video_frame(FrameType type, Bytes body);

    std::uint64_t queued_bytes() const { return queued_bytes_ ? queued_bytes_->load() : 0; }
    // True once the queue passed its limit; the link is no use any more.
    bool stalled() const { return stalled_ && stalled_->load(); }
    std::uint64_t queued_video_frames() const { return queued_video_frames_ ? queued_video_frames_->load() : 0; }

    const std::shared_ptr<std::atomic<std::uint64_t>>& queued_bytes_counter() const { return queued_bytes_; }
    const std::shared_ptr<std::atomic<std::uint64_t>>& queued_other_bytes_counter() const {
        return queued_other_bytes_;
    }
    const std::shared_ptr<std::atomic<std::uint64_t>>& queued_video_frames_counter() const {
        return queued_video_frames_;
    }
    const std::shared_ptr<std::atomic<bool>>& running_flag() const { return running_; }

    // A copy that shares the counters and the flag but cannot send.
    LinkWriter without_sender() const {
        LinkWriter copy = *this;
        copy.sender_.reset();
        return copy;
    }

    // Ends the link at once, as a stall does: nothing more is queued and its
    // socket is shut down, waking its reader and its writer.
    void shut_down() const;

    // Two handles belong to the same link.
    bool same_link(const LinkWriter& other) const { return running_ == other.running_; }

private:
    Sender<WriterItem> sender_;
    std::shared_ptr<std::atomic<std::uint64_t>> queued_video_frames_;
    std::shared_ptr<std::atomic<std::uint64_t>> queued_bytes_;
    std::shared_ptr<std::atomic<std::uint64_t>> queued_other_bytes_;  // all but video
    std::shared_ptr<std::atomic<bool>> stalled_;
    std::uint64_t queued_limit_ = kNoQueuedLimit;
    // A handle of the link's socket that shuts it down once the link stalls,
    // waking its reader and its writer.
    std::shared_ptr<Socket> stopper_;
    friend std::optional<LinkWriter> start_link_writer(Socket socket, std::uint64_t queued_limit);
    std::shared_ptr<std::atomic<bool>> running_;
};

// The body of "vorlix-writer": writes the queue's items to the socket until
// Close arrives or every sender is gone. Exposed so tests can run it on a
// thread of their own.
void run_link_writer(Receiver<WriterItem> items, Socket socket, LinkWriter shared);

// Creates the queue and starts "vorlix-writer" on the socket (the link's
// duplicate handle); the thread is not joined. Nothing when the thread cannot
// be started (logged "could not start a thread for a link: {}").
std::optional<LinkWriter> start_link_writer(Socket socket, std::uint64_t queued_limit = LinkWriter::kNoQueuedLimit);

// The number of writer threads running in this process (for tests that check
// that no link thread outlives its link).
std::int64_t running_writer_threads();

// Queues an already serialised control message as a Control frame while the
// writer runs; the byte count is added first and taken back when the send
// fails.
void queue_control_bytes(const LinkWriter& writer, const std::string& json);

// Serialises a control message and queues it as queue_control_bytes does; a
// message that cannot be written (a text that is not UTF-8) is dropped.
void queue_control_message(const LinkWriter& writer, const ControlMessage& message);

// Sends Close, then waits until the writer has stopped or `limit` has passed,
// looking every 5 ms.
void close_and_wait_for_writer(const LinkWriter& writer, std::chrono::milliseconds limit);

}  // namespace vorlix
