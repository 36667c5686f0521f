#include "files/file_send.h"

#include <algorithm>
#include <thread>

#include "files/file_transfers.h"
#include "json/base64.h"
#include "json/json.h"

namespace vorlix {

namespace {

// Message ids are signed on the wire; the table's unsigned ids are written
// with the same bits.
Json wire_id(std::uint64_t id) { return Json(static_cast<std::int64_t>(id)); }

std::string message(const char* name, Json fields) {
    Json outer = Json::object();
    outer[name] = std::move(fields);
    auto text = write_compact(outer);
    return text.ok() ? std::move(text).value() : std::string();
}

void queue(const LinkWriter& writer, const std::string& json) {
    if (!json.empty()) queue_control_bytes(writer, json);
}

}  // namespace

std::string file_start_message(std::uint64_t id, const std::string& name, std::uint64_t size,
                               const std::string& purpose) {
    Json fields = Json::object();
    fields["id"] = wire_id(id);
    fields["name"] = name;
    fields["size"] = wire_id(size);
    fields["purpose"] = purpose;
    return message("fileStart", std::move(fields));
}

std::string file_chunk_message(std::uint64_t id, ByteView data) {
    Json fields = Json::object();
    fields["id"] = wire_id(id);
    fields["data"] = base64_encode(data);
    return message("fileChunk", std::move(fields));
}

std::string file_end_message(std::uint64_t id, bool ok) {
    Json fields = Json::object();
    fields["id"] = wire_id(id);
    fields["ok"] = ok;
    return message("fileEnd", std::move(fields));
}

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
    queue(writer, file_chunk_message(id, bytes));
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

    queue(writer, file_start_message(id, name, size, purpose));
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
            queue(writer, file_end_message(id, ok));
            return ok;
        }
        if (!wait_for_queue_room(writer)) return false;
        send_file_chunk(writer, id, ByteView(buffer.data(), filled), binary);
        sent += filled;
    }
}

void send_bytes_as_file(const LinkWriter& writer, std::uint64_t id, const std::string& name, ByteView bytes,
                        const std::string& purpose, bool binary) {
    queue(writer, file_start_message(id, name, bytes.size(), purpose));
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (!wait_for_queue_room(writer)) return;
        const std::size_t n = std::min(bytes.size() - at, kFilePieceSize);
        send_file_chunk(writer, id, bytes.subspan(at, n), binary);
        at += n;
    }
    queue(writer, file_end_message(id, true));
}

}  // namespace vorlix
