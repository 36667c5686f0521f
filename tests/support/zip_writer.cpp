#include "support/zip_writer.h"

#include <zlib.h>

#include <algorithm>

#include "app/version_resource.h"

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
            put32(*record, static_cast<std::uint32_t>(e.content.size() + (e.long_size ? 1 : 0)));
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

namespace {

void pad4(Bytes& out) {
    while (out.size() % 4) out.push_back(0);
}

// One node of a version block: wLength, wValueLength, wType, the key, the
// value and the children on 4-byte boundaries.
Bytes version_node(const std::string& key, const Bytes& value, std::uint16_t value_length, bool text,
                   const std::vector<Bytes>& children = {}) {
    Bytes node(6, 0);
    for (char c : key) put16(node, static_cast<unsigned char>(c));
    put16(node, 0);
    pad4(node);
    node.insert(node.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        pad4(node);
        node.insert(node.end(), child.begin(), child.end());
    }
    node[0] = static_cast<std::uint8_t>(node.size());
    node[1] = static_cast<std::uint8_t>(node.size() >> 8);
    node[2] = static_cast<std::uint8_t>(value_length);
    node[3] = static_cast<std::uint8_t>(value_length >> 8);
    node[4] = text ? 1 : 0;
    return node;
}

Bytes version_text(const std::string& key, const std::string& value) {
    Bytes units;
    for (char c : value) put16(units, static_cast<unsigned char>(c));
    put16(units, 0);
    return version_node(key, units, static_cast<std::uint16_t>(value.size() + 1), true);
}

Bytes version_block(const std::string& version) {
    Bytes fixed;
    put32(fixed, 0xfeef04bd);
    fixed.resize(52, 0);
    Bytes translation;
    put16(translation, 0x409);
    put16(translation, 1200);
    const Bytes strings = version_node(
        "StringFileInfo", {}, 0, true,
        {version_node("040904B0", {}, 0, true,
                      {version_text("FileDescription", "Vorlix host"), version_text("FileVersion", version),
                       version_text("ProductVersion", version)})});
    const Bytes vars = version_node("VarFileInfo", {}, 0, true, {version_node("Translation", translation, 4, false)});
    return version_node("VS_VERSION_INFO", fixed, 52, false, {strings, vars});
}

}  // namespace

Bytes pe_program(std::uint16_t machine, std::size_t size, const std::string& version) {
    Bytes exe(0x200, 0);
    exe[0] = 'M';
    exe[1] = 'Z';
    exe[60] = 0x80;
    exe[0x80] = 'P';
    exe[0x81] = 'E';
    exe[0x84] = static_cast<std::uint8_t>(machine);
    exe[0x85] = static_cast<std::uint8_t>(machine >> 8);
    if (!version.empty()) {
        // PE32+ with one section, ".rsrc" at RVA 0x1000 and file offset
        // 0x200: three directory levels (version, name 1, language 0x409),
        // the data entry and the block.
        constexpr std::uint32_t kRva = 0x1000;
        const Bytes block = version_block(version);
        Bytes rsrc;
        for (const auto& [id, target] : {std::pair{16u, 0x80000018u}, {1u, 0x80000030u}, {0x409u, 0x48u}}) {
            rsrc.resize(rsrc.size() + 14, 0);
            put16(rsrc, 1);
            put32(rsrc, id);
            put32(rsrc, target);
        }
        put32(rsrc, kRva + 0x58);
        put32(rsrc, static_cast<std::uint32_t>(block.size()));
        rsrc.resize(0x58, 0);
        rsrc.insert(rsrc.end(), block.begin(), block.end());
        pad4(rsrc);
        const auto set32 = [&](std::size_t at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i) exe[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        exe[0x86] = 1;     // one section
        exe[0x94] = 0xf0;  // the size of the optional header
        exe[0x98] = 0x0b;
        exe[0x99] = 0x02;
        set32(0x98 + 108, 16);  // data directories
        set32(0x98 + 112 + 16, kRva);
        set32(0x98 + 112 + 20, static_cast<std::uint32_t>(rsrc.size()));
        const std::size_t section = 0x98 + 0xf0;
        std::copy_n(".rsrc", 5, exe.begin() + static_cast<std::ptrdiff_t>(section));
        set32(section + 8, static_cast<std::uint32_t>(rsrc.size()));
        set32(section + 12, kRva);
        set32(section + 16, static_cast<std::uint32_t>(rsrc.size()));
        set32(section + 20, 0x200);
        exe.insert(exe.end(), rsrc.begin(), rsrc.end());
    }
    if (exe.size() < size) exe.resize(size, 0);
    if (version.empty()) exe.resize(size);
    return exe;
}

Bytes with_file_version(Bytes program, const std::string& version) {
    const std::optional<ByteView> block = pe_version_block(program);
    const std::optional<ByteView> value =
        block ? version_block_value(*block, version_string_query(0x409, 1200, "FileVersion")) : std::nullopt;
    if (!value || value->size() < 2 * (version.size() + 1)) return {};
    const std::size_t at = static_cast<std::size_t>(value->data() - program.data());
    for (std::size_t i = 0; i < value->size(); ++i) program[at + i] = 0;
    for (std::size_t i = 0; i < version.size(); ++i) program[at + 2 * i] = static_cast<std::uint8_t>(version[i]);
    return program;
}

}  // namespace vorlix::testing
