// What a device sends for files: fileStart names and sizes, binary FileData
// bodies and fileEnd, in any order, into one incoming-file table held in
// memory. Also the file names it gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "../tests/files/memory_file_system.h"
#include "app/text.h"
#include "files/file_transfers.h"

namespace {

void check_name(std::string_view name) {
    const std::string safe = vorlix::safe_file_name(name);
    if (safe.empty() || safe.front() == '.' || safe.back() == '.' || safe.back() == ' ') std::abort();
    for (char c : safe) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
            c == '>' || c == '|') {
            std::abort();
        }
    }
    if (vorlix::is_valid_utf8(name) && vorlix::utf8_to_utf16(safe).size() > vorlix::kMaxSafeNameUnits) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vorlix;
    auto files = std::make_shared<test::MemoryFileSystem>();
    FileTransfers table;
    table.files = files;
    std::size_t at = 0;
    auto take = [&](std::size_t n) {
        std::string_view out(reinterpret_cast<const char*>(data) + at, std::min(n, size - at));
        at += out.size();
        return out;
    };
    while (at < size) {
        const std::uint8_t op = static_cast<std::uint8_t>(take(1)[0]);
        switch (op % 4) {
            case 0: {  // fileStart: id, size, name
                auto head = take(3);
                if (head.size() < 3) return 0;
                const std::uint64_t id = static_cast<std::uint8_t>(head[0]) % 8;
                const std::uint64_t announced = static_cast<std::uint8_t>(head[1]) * 3u;
                const std::string_view name = take(static_cast<std::uint8_t>(head[2]));
                check_name(name);
                begin_incoming_file(table, "D", id, name, op >= 0xF0 ? kMaxTransferFileSize + 1 : announced);
                break;
            }
            case 1: {  // a FileData body
                auto length = take(1);
                if (length.empty()) return 0;
                auto body = take(static_cast<std::uint8_t>(length[0]));
                auto piece = read_file_piece(ByteView(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()));
                if (piece) write_incoming_chunk(table, piece->id % 8, piece->bytes);
                break;
            }
            case 2: {  // fileEnd
                auto id = take(1);
                if (id.empty()) return 0;
                auto outcome = finish_incoming_file(table, static_cast<std::uint8_t>(id[0]) % 8, op & 0x10);
                if (outcome.kind == IncomingOutcome::Kind::saved && !files->exists(outcome.path)) std::abort();
                break;
            }
            default:
                files->fail_write = op & 0x10;
                if (op & 0x20) drop_incoming_files(table);
                break;
        }
        for (const auto& [id, transfer] : table.incoming.open) {
            if (transfer.received > transfer.size) std::abort();
        }
    }
    drop_incoming_files(table);
    // Every file that is left was saved whole; nothing is open.
    if (!files->open_for_writing.empty()) std::abort();
    return 0;
}
