#include "support/zip_writer.h"

#include <zlib.h>

namespace vorlix::testing {
namespace {

void put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& out, std::uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

Bytes deflate_raw(const Bytes& in) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, in.size()));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace

Bytes write_zip(const std::vector<ZipEntry>& entries, const std::string& comment) {
    Bytes out;
    Bytes central;
    for (const ZipEntry& e : entries) {
        const Bytes data = e.deflate ? deflate_raw(e.content) : e.content;
        const std::uint16_t method = e.method_override != 0xffff ? e.method_override : (e.deflate ? 8 : 0);
        const std::uint32_t crc =
            static_cast<std::uint32_t>(crc32(0, e.content.data(), static_cast<uInt>(e.content.size()))) +
            (e.bad_crc ? 1 : 0);
        const std::uint32_t local_at = static_cast<std::uint32_t>(out.size());
        for (Bytes* record : {&out, &central}) {
            const bool is_local = record == &out;
            put32(*record, is_local ? 0x04034b50 : 0x02014b50);
            if (!is_local) put16(*record, 20);  // made by
            put16(*record, 20);                 // needed
            put16(*record, e.encrypted ? 1 : 0);
            put16(*record, method);
            put32(*record, 0);  // time and date
            put32(*record, crc);
            put32(*record, static_cast<std::uint32_t>(data.size()));
            put32(*record, static_cast<std::uint32_t>(e.content.size()));
            put16(*record, static_cast<std::uint32_t>(e.name.size()));
            put16(*record, 0);  // extra
            if (!is_local) {
                put16(*record, 0);  // comment
                put16(*record, 0);  // disk
                put16(*record, 0);  // internal attributes
                put32(*record, 0);  // external attributes
                put32(*record, local_at);
            }
            record->insert(record->end(), e.name.begin(), e.name.end());
        }
        out.insert(out.end(), data.begin(), data.end());
    }
    const std::uint32_t central_at = static_cast<std::uint32_t>(out.size());
    out.insert(out.end(), central.begin(), central.end());
    put32(out, 0x06054b50);
    put32(out, 0);
    put16(out, static_cast<std::uint32_t>(entries.size()));
    put16(out, static_cast<std::uint32_t>(entries.size()));
    put32(out, static_cast<std::uint32_t>(central.size()));
    put32(out, central_at);
    put16(out, static_cast<std::uint32_t>(comment.size()));
    out.insert(out.end(), comment.begin(), comment.end());
    return out;
}

Bytes pe_program(std::uint16_t machine, std::size_t size) {
    Bytes exe(size, 0);
    exe[0] = 'M';
    exe[1] = 'Z';
    exe[60] = 0x80;
    exe[0x80] = 'P';
    exe[0x81] = 'E';
    exe[0x84] = static_cast<std::uint8_t>(machine);
    exe[0x85] = static_cast<std::uint8_t>(machine >> 8);
    return exe;
}

}  // namespace vorlix::testing
