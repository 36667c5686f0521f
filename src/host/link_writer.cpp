#include "host/link_writer.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

#include "control/messages.h"
#include "host/log.h"
#include "util/thread_name.h"
#include "wire/sealed.h"

namespace vorlix {

// --- WriterItem -----------------------------------------------------------------

WriterItem::WriterItem(WriterItem&& other) noexcept
    : kind(other.kind), type(other.type), bytes(std::move(other.bytes)), key(other.key), counter(other.counter) {
    wipe_key32(other.key);
}

WriterItem& WriterItem::operator=(WriterItem&& other) noexcept {
    if (this != &other) {
        kind = other.kind;
        type = other.type;
        bytes = std::move(other.bytes);
        key = other.key;
        counter = other.counter;
        wipe_key32(other.key);
    }
    return *this;
}

WriterItem::~WriterItem() { wipe_key32(key); }

WriterItem WriterItem::raw(Bytes bytes) {
    WriterItem item;
    item.kind = Kind::Raw;
    item.bytes = std::move(bytes);
    return item;
}

WriterItem WriterItem::install_key(const Key32& key, std::uint64_t counter) {
    WriterItem item;
    item.kind = Kind::InstallKey;
    item.key = key;
    item.counter = counter;
    return item;
}

WriterItem WriterItem::frame(FrameType type, Bytes body) {
    WriterItem item;
    item.kind = Kind::Frame;
    item.type = type;
    item.bytes = std::move(body);
    return item;
}

WriterItem WriterItem::close() { return WriterItem(); }

// --- LinkWriter -------------------------------------------------------------------

namespace {

std::atomic<std::int64_t> g_writer_threads{0};

bool is_video(FrameType type) { return type == FrameType::Video || type == FrameType::Video2; }

// Takes a handled (or dropped) Frame item off the counters.
void uncount(const LinkWriter& shared, const WriterItem& item) {
    if (item.kind != WriterItem::Kind::Frame) return;
    if (is_video(item.type)) {
        shared.queued_video_frames_counter()->fetch_sub(1);
    } else {
        shared.queued_other_bytes_counter()->fetch_sub(item.bytes.size());
    }
    shared.queued_bytes_counter()->fetch_sub(item.bytes.size());
}

}  // namespace

std::pair<LinkWriter, Receiver<WriterItem>> LinkWriter::make(std::uint64_t queued_limit) {
    auto [sender, receiver] = make_channel<WriterItem>();
    LinkWriter writer;
    writer.sender_ = std::move(sender);
    writer.queued_video_frames_ = std::make_shared<std::atomic<std::uint64_t>>(0);
    writer.queued_bytes_ = std::make_shared<std::atomic<std::uint64_t>>(0);
    writer.queued_other_bytes_ = std::make_shared<std::atomic<std::uint64_t>>(0);
    writer.stalled_ = std::make_shared<std::atomic<bool>>(false);
    writer.queued_limit_ = queued_limit;
    writer.running_ = std::make_shared<std::atomic<bool>>(true);
    return {std::move(writer), std::move(receiver)};
}

bool LinkWriter::send(WriterItem item) {
    if (!sender_.valid()) return false;
    return !sender_.send(std::move(item)).has_value();
}

bool LinkWriter::send_frame(FrameType type, Bytes body) {
    if (is_video(type)) return send_video_frame(type, std::move(body));
    if (!running()) return false;
    const std::uint64_t size = body.size();
    if (queued_other_bytes_->fetch_add(size) + size > queued_limit_) {
        queued_other_bytes_->fetch_sub(size);
        // The peer stopped reading: queue nothing more and let the reader end
        // the link.
        if (!stalled_->exchange(true)) {
            running_->store(false);
            if (stopper_) stopper_->shutdown_both();
        }
        return false;
    }
    queued_bytes_->fetch_add(size);
    if (send(WriterItem::frame(type, std::move(body)))) return true;
    queued_bytes_->fetch_sub(size);
    queued_other_bytes_->fetch_sub(size);
    return false;
}

void LinkWriter::shut_down() const {
    if (running_) running_->store(false);
    if (stopper_) stopper_->shutdown_both();
}

bool LinkWriter::send_video_frame(FrameType type, Bytes body) {
    if (!running()) return false;
    const std::uint64_t size = body.size();
    queued_video_frames_->fetch_add(1);
    queued_bytes_->fetch_add(size);
    if (send(WriterItem::frame(type, std::move(body)))) return true;
    queued_video_frames_->fetch_sub(1);
    queued_bytes_->fetch_sub(size);
    return false;
}

void run_link_writer(Receiver<WriterItem> items, Socket socket, LinkWriter shared) {
    // The writer keeps the shared values but no sender of its own queue, so
    // that it ends when the last producer lets go.
    shared = shared.without_sender();
    std::optional<SealingKey> send_key;
    bool broken = false;

    auto mark_broken = [&] {
        broken = true;
        shared.running_flag()->store(false);
        socket.shutdown_both();
    };

    while (true) {
        std::optional<WriterItem> next = items.receive();
        if (!next || next->kind == WriterItem::Kind::Close) break;
        WriterItem& item = *next;
        switch (item.kind) {
            case WriterItem::Kind::Raw:
                if (!broken && !socket.send_all(item.bytes).ok()) mark_broken();
                break;
            case WriterItem::Kind::InstallKey:
                // The old key wipes itself. Keys are handed over fresh, with
                // counter 0 (the reader loop's sign-in is the only source).
                send_key.reset();
                send_key.emplace(item.key);
                break;
            case WriterItem::Kind::Frame:
                if (!broken && send_key) {
                    Bytes sealed = seal_frame(*send_key, item.type, item.bytes);
                    if (!socket.send_all(sealed).ok()) mark_broken();
                }
                uncount(shared, item);
                break;
            case WriterItem::Kind::Close:
                break;
        }
        if (broken) {
            // Producers stop at their next look at the flag; keep the socket shut.
            shared.running_flag()->store(false);
            socket.shutdown_both();
        }
    }

    socket.shutdown_both();
    shared.running_flag()->store(false);
    send_key.reset();
    // Items still queued behind Close are never written: take them off the
    // counters so that producers waiting on them see the link drained.
    for (WriterItem& left : items.close()) uncount(shared, left);
}

std::optional<LinkWriter> start_link_writer(Socket socket, std::uint64_t queued_limit) {
    auto [writer, receiver] = LinkWriter::make(queued_limit);
    if (Result<Socket> stopper = socket.duplicate()) writer.stopper_ = std::make_shared<Socket>(std::move(*stopper));
    g_writer_threads.fetch_add(1);
    try {
        std::thread thread([items = std::move(receiver), socket = std::move(socket),
                             shared = writer.without_sender()]() mutable {
            set_current_thread_name("vorlix-writer");
            run_link_writer(std::move(items), std::move(socket), std::move(shared));
            g_writer_threads.fetch_sub(1);
        });
        thread.detach();
    } catch (const std::system_error& error) {
        g_writer_threads.fetch_sub(1);
        log_line(std::string("could not start a thread for a link: ") + error.what());
        return std::nullopt;
    }
    return writer;
}

std::int64_t running_writer_threads() { return g_writer_threads.load(); }

void close_and_wait_for_writer(const LinkWriter& writer, std::chrono::milliseconds limit) {
    LinkWriter handle = writer;
    handle.send(WriterItem::close());
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (handle.running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void queue_control_message(const LinkWriter& writer, const ControlMessage& message) {
    if (!writer.running()) return;
    const std::string json = encode_control_message(message);
    if (!json.empty()) queue_control_bytes(writer, json);
}

void queue_control_bytes(const LinkWriter& writer, const std::string& json) {
    LinkWriter handle = writer;
    handle.send_frame(FrameType::Control, to_bytes(json));
}

}  // namespace vorlix
