// Sending files to the device: one fileStart, the bytes in pieces of at most
// 196,608 bytes (binary FileData frames when the device takes them, else
// fileChunk messages), one fileEnd. A sender waits while more than 4,000,000
// bytes are queued on the link and stops, without fileEnd, once the link's
// writer has stopped.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "control/messages.h"
#include "files/file_system.h"
#include "host/link_writer.h"
#include "util/bytes.h"

namespace vorlix {

constexpr std::size_t kFilePieceSize = 196'608;
constexpr std::uint64_t kFileQueueLimit = 4'000'000;
constexpr std::chrono::milliseconds kFileQueuePause{20};

// The control messages of a transfer.
ControlMessage file_start_message(std::uint64_t id, const std::string& name, std::uint64_t size,
                                  const std::string& purpose);
ControlMessage file_chunk_message(std::uint64_t id, ByteView data);
ControlMessage file_end_message(std::uint64_t id, bool ok);

// Queues one piece: a FileData frame (the id as 32-bit big-endian, then the
// bytes) when `binary` and the id is below 2^32, else a fileChunk message.
void send_file_chunk(const LinkWriter& writer, std::uint64_t id, ByteView bytes, bool binary);

// Waits in 20 ms steps while more than 4,000,000 bytes are queued and the
// writer runs. True when there is room; false when the writer has stopped.
bool wait_for_queue_room(const LinkWriter& writer);

// Sends a file from disk; true only when fileEnd went out with ok true. A
// file that cannot be opened, or is larger than 2^31 bytes, sends nothing.
bool send_file(const LinkWriter& writer, std::uint64_t id, const std::filesystem::path& path,
               const std::string& purpose, bool binary, FileSystem& files);

// Sends bytes held in memory as a file.
void send_bytes_as_file(const LinkWriter& writer, std::uint64_t id, const std::string& name, ByteView bytes,
                        const std::string& purpose, bool binary);

}  // namespace vorlix
