#include "files/file_send.h"

#include <algorithm>
#include <thread>

#include "files/file_transfers.h"

namespace vorlix {

namespace {

// Message ids are signed on the wire; the table's unsigned ids are written
// with the same bits.
std::int64_t wire_id(std::uint64_t id) { return static_cast<std::int64_t>(id); }

}  // namespace

ControlMessage file_start_message(std::uint64_t id, const std::string& name, std::uint64_t size,
                                  const std::string& purpose) {
    return control::FileStart{wire_id(id), name, wire_id(size), purpose};
}

ControlMessage file_chunk_message(std::uint64_t id, ByteView data) {
    return control::FileChunk{wire_id(id), Bytes(data.begin(), data.end())};
}

ControlMessage file_end_message(std::uint64_t id, bool ok) { return control::FileEnd{wire_id(id), ok}; }

void send_file_chunk(const LinkWriter& writer, std::uint64_t id, ByteView bytes, bool binary) {
    if (binary && id < (std::uint64_t{1} << 32)) {
        if (!writer.running()) return;
        Bytes body;
        body.reserve(4 + bytes.size());
        append_u32_be(body, static_cast<std::uint32_t>(id));
        append(body, bytes);
        LinkWriter handle = writer;
        handle.send_frame(FrameType::FileData, std::move(body));
        return;
    }
    queue_control_message(writer, file_chunk_message(id, bytes));
}

bool wait_for_queue_room(const LinkWriter& writer) {
    while (writer.queued_bytes() > kFileQueueLimit && writer.running()) {
        std::this_thread::sleep_for(kFileQueuePause);
    }
    return writer.running() && writer.queued_bytes() <= kFileQueueLimit;
}

bool send_file(const LinkWriter& writer, std::uint64_t id, const std::filesystem::path& path,
               const std::string& purpose, bool binary, FileSystem& files) {
    std::unique_ptr<ReadableFile> file = files.open_read(path);
    if (!file) return false;
    const std::uint64_t size = file->size().value_or(0);
    if (size > kMaxTransferFileSize) return false;
    std::string name = file_name_text(path);
    if (name.empty()) name = "File";

    queue_control_message(writer, file_start_message(id, name, size, purpose));
    Bytes buffer(kFilePieceSize);
    std::uint64_t sent = 0;
    while (true) {
        std::size_t filled = 0;
        while (filled < buffer.size()) {
            auto got = file->read(buffer.data() + filled, buffer.size() - filled);
            if (!got.ok() || *got == 0) break;  // a failed read ends this piece like the end of the file
            filled += *got;
        }
        if (filled == 0) {
            const bool ok = sent == size;
            queue_control_message(writer, file_end_message(id, ok));
            return ok;
        }
        if (!wait_for_queue_room(writer)) return false;
        send_file_chunk(writer, id, ByteView(buffer.data(), filled), binary);
        sent += filled;
    }
}

void send_bytes_as_file(const LinkWriter& writer, std::uint64_t id, const std::string& name, ByteView bytes,
                        const std::string& purpose, bool binary) {
    queue_control_message(writer, file_start_message(id, name, bytes.size(), purpose));
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (!wait_for_queue_room(writer)) return;
        const std::size_t n = std::min(bytes.size() - at, kFilePieceSize);
        send_file_chunk(writer, id, bytes.subspan(at, n), binary);
        at += n;
    }
    queue_control_message(writer, file_end_message(id, true));
}

}  // namespace vorlix
