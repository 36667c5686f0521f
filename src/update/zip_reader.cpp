#include "update/zip_reader.h"

#include <algorithm>
#include <cstdio>

#include <zlib.h>

#include "app/text.h"
#include "app/version_resource.h"
#include "update/manifest.h"

namespace vorlix {
namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kLocalSize = 30;

std::uint16_t u16_at(ByteView d, std::size_t at) {
    return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8));
}
std::uint32_t u32_at(ByteView d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) | (static_cast<std::uint32_t>(d[at + 1]) << 8) |
           (static_cast<std::uint32_t>(d[at + 2]) << 16) | (static_cast<std::uint32_t>(d[at + 3]) << 24);
}

Error damaged(std::string_view detail) { return Error("the zip is damaged (" + std::string(detail) + ")"); }

bool same_ascii_nocase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// Raw deflate of a known uncompressed size; nothing when the stream is bad
// or runs past `size` bytes. A sound stream that ends early gives what it
// holds, and the size check after it refuses that.
std::optional<Bytes> inflate_raw(ByteView data, std::size_t size) {
    Bytes out(size);
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return std::nullopt;
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    std::uint8_t spare = 0;
    z.next_out = size ? out.data() : &spare;
    z.avail_out = size ? static_cast<uInt>(size) : 0;
    int rc = inflate(&z, Z_FINISH);
    if (rc == Z_BUF_ERROR && z.avail_out == 0) {
        // Full output: one more byte tells a longer stream from a finished one.
        z.next_out = &spare;
        z.avail_out = 1;
        rc = inflate(&z, Z_FINISH);
    }
    const bool ended = rc == Z_STREAM_END && z.total_out <= size;
    const std::size_t produced = z.total_out;
    inflateEnd(&z);
    if (!ended) return std::nullopt;
    out.resize(produced);
    return out;
}

std::uint32_t crc_of(ByteView data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    std::size_t at = 0;
    while (at < data.size()) {
        const uInt piece = static_cast<uInt>(std::min<std::size_t>(data.size() - at, 1u << 30));
        crc = crc32(crc, data.data() + at, piece);
        at += piece;
    }
    return static_cast<std::uint32_t>(crc);
}

}  // namespace

Result<std::vector<ZipFile>> read_zip(ByteView zip, std::span<const std::string_view> wanted) {
    if (zip.size() < kEndSize) return damaged("no directory");
    std::optional<std::size_t> end;
    const std::size_t lowest = zip.size() > 65557 ? zip.size() - 65557 : 0;
    for (std::size_t at = zip.size() - kEndSize + 1; at-- > lowest;) {
        if (u32_at(zip, at) == kEndSignature) {
            end = at;
            break;
        }
    }
    if (!end) return damaged("no directory");
    if (zip.size() - *end < 12) return damaged("count");
    if (zip.size() - *end < 20) return damaged("offset");
    const std::size_t count = u16_at(zip, *end + 10);
    std::size_t at = u32_at(zip, *end + 16);

    std::vector<ZipFile> files;
    std::vector<bool> taken(wanted.size(), false);
    for (std::size_t i = 0; i < count; ++i) {
        if (at > zip.size() || zip.size() - at < kCentralSize || u32_at(zip, at) != kCentralSignature) {
            return damaged("entry");
        }
        const std::uint16_t flags = u16_at(zip, at + 8);
        const std::uint16_t method = u16_at(zip, at + 10);
        const std::uint32_t crc = u32_at(zip, at + 16);
        const std::size_t packed = u32_at(zip, at + 20);
        const std::size_t size = u32_at(zip, at + 24);
        const std::size_t name_length = u16_at(zip, at + 28);
        const std::size_t extra_length = u16_at(zip, at + 30);
        const std::size_t comment_length = u16_at(zip, at + 32);
        const std::size_t local = u32_at(zip, at + 42);
        if (zip.size() - at - kCentralSize < name_length) return damaged("name");
        const std::string raw_name(reinterpret_cast<const char*>(zip.data() + at + kCentralSize), name_length);
        at += kCentralSize + name_length + extra_length + comment_length;

        const std::string name = utf16_to_utf8(utf8_to_utf16(raw_name));
        const auto match = std::find_if(wanted.begin(), wanted.end(),
                                        [&](std::string_view w) { return same_ascii_nocase(w, name); });
        if (match == wanted.end()) continue;
        const std::size_t index = static_cast<std::size_t>(match - wanted.begin());
        if (taken[index]) continue;

        if (flags & 1) return damaged("encrypted");
        if (size > kArchiveLimit) return damaged("too big");
        if (local > zip.size() || zip.size() - local < 4 || u32_at(zip, local) != kLocalSignature) {
            return damaged("local header");
        }
        if (zip.size() - local < kLocalSize) return damaged("local");
        const std::size_t data_at = local + kLocalSize + u16_at(zip, local + 26) + u16_at(zip, local + 28);
        if (data_at > zip.size() || zip.size() - data_at < packed) return damaged("data");
        const ByteView data = zip.subspan(data_at, packed);

        Bytes content;
        if (method == 0) {
            content.assign(data.begin(), data.end());
        } else if (method == 8) {
            std::optional<Bytes> inflated = inflate_raw(data, size);
            if (!inflated) return damaged("deflate");
            content = std::move(*inflated);
        } else {
            return Error("the zip uses compression " + std::to_string(method));
        }
        if (content.size() != size || crc_of(content) != crc) return damaged("checksum");
        taken[index] = true;
        files.push_back(ZipFile{std::string(*match), std::move(content)});
    }
    return files;
}

Result<std::vector<ZipFile>> check_package_zip(ByteView zip) {
    static constexpr std::string_view kWanted[] = {kProgramFileName, kCameraFileName};
    Result<std::vector<ZipFile>> files = read_zip(zip, kWanted);
    if (!files) return files;
    const auto program = std::find_if(files->begin(), files->end(),
                                      [](const ZipFile& f) { return f.name == kProgramFileName; });
    if (program == files->end()) return Error("the zip has no Vorlix.exe");
    const ByteView exe = program->bytes;
    bool pe = exe.size() >= 64 && exe[0] == 'M' && exe[1] == 'Z';
    std::size_t pe_at = 0;
    if (pe) {
        pe_at = u32_at(exe, 60);
        pe = pe_at <= exe.size() && exe.size() - pe_at >= 6 && u32_at(exe, pe_at) == 0x00004550;
    }
    if (!pe) return Error("the zip's Vorlix.exe is not a Windows program");
    const std::uint16_t machine = u16_at(exe, pe_at + 4);
    if (machine != 0x8664) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%04x", machine);
        return Error("the zip's Vorlix.exe is for another kind of PC (machine " + std::string(text) + ")");
    }
    return files;
}

Result<void> check_program_version(const std::vector<ZipFile>& files, std::string_view version) {
    const auto program = std::find_if(files.begin(), files.end(),
                                      [](const ZipFile& f) { return f.name == kProgramFileName; });
    if (program == files.end()) return Error("the zip has no Vorlix.exe");
    const std::optional<ByteView> block = pe_version_block(program->bytes);
    const std::optional<std::string> found = block ? version_block_string(*block, "FileVersion") : std::nullopt;
    if (!found) return Error("the zip's Vorlix.exe carries no version");
    if (!is_same_version(*found, version)) {
        // The text is the archive's, shown in a notice: a few characters do.
        const std::string shown = found->size() > 32 ? found->substr(0, 32) + "..." : *found;
        return Error("the zip's Vorlix.exe is version " + shown + ", not " + std::string(trim_unicode_space(version)));
    }
    return {};
}

}  // namespace vorlix
