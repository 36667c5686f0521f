#include "app/version_resource.h"

#include <cstdio>

#include "app/text.h"

namespace vorlix {

namespace {

std::uint16_t u16_at(ByteView b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t u32_at(ByteView b, std::size_t at) {
    return static_cast<std::uint32_t>(u16_at(b, at)) | (static_cast<std::uint32_t>(u16_at(b, at + 2)) << 16);
}

std::size_t align4(std::size_t at) { return (at + 3) & ~std::size_t{3}; }

constexpr std::uint32_t kVersionType = 16;  // RT_VERSION
constexpr std::uint32_t kSubdirectory = 0x80000000u;

// The file bytes of `size` bytes at `rva`, when one section's raw data holds
// them all.
std::optional<ByteView> at_rva(ByteView pe, std::size_t sections_at, std::size_t count, std::uint32_t rva,
                               std::uint32_t size) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t s = sections_at + 40 * i;
        const std::uint32_t address = u32_at(pe, s + 12);
        const std::uint32_t raw_size = u32_at(pe, s + 16);
        const std::uint32_t raw_at = u32_at(pe, s + 20);
        if (rva < address || rva - address >= raw_size) continue;
        const std::size_t offset = rva - address;
        if (raw_size - offset < size || raw_at > pe.size() || pe.size() - raw_at < offset + size) return std::nullopt;
        return pe.subspan(raw_at + offset, size);
    }
    return std::nullopt;
}

// The data field of the entry with `id` in the resource directory at `at`
// (named entries come first and never match), or of its first entry.
std::optional<std::uint32_t> directory_entry(ByteView rsrc, std::size_t at, std::optional<std::uint32_t> id) {
    if (at > rsrc.size() || rsrc.size() - at < 16) return std::nullopt;
    const std::size_t named = u16_at(rsrc, at + 12);
    const std::size_t count = named + u16_at(rsrc, at + 14);
    if ((rsrc.size() - at - 16) / 8 < count) return std::nullopt;
    for (std::size_t i = id ? named : 0; i < count; ++i) {
        const std::size_t entry = at + 16 + 8 * i;
        if (!id || u32_at(rsrc, entry) == *id) return u32_at(rsrc, entry + 4);
    }
    return std::nullopt;
}

// One node of a version block: wLength, wValueLength, wType, the key, then
// the value and the children, each on a 4-byte boundary of the block.
struct VersionNode {
    std::size_t end = 0;
    std::u16string key;
    ByteView value;
    std::size_t children = 0;
};

std::optional<VersionNode> read_node(ByteView block, std::size_t at, std::size_t limit) {
    if (limit - at < 6) return std::nullopt;
    const std::size_t length = u16_at(block, at);
    if (length < 6 || length > limit - at) return std::nullopt;
    VersionNode node;
    node.end = at + length;
    std::size_t key_at = at + 6;
    for (;; key_at += 2) {
        if (node.end - key_at < 2) return std::nullopt;
        const char16_t unit = u16_at(block, key_at);
        if (unit == 0) break;
        node.key.push_back(unit);
    }
    const std::size_t value_at = std::min(align4(key_at + 2), node.end);
    // A text's length counts characters (some compilers write bytes, which
    // the end of the node bounds); its reader stops at the NUL.
    const std::size_t units = u16_at(block, at + 2);
    const std::size_t value_size = std::min(u16_at(block, at + 4) == 1 ? 2 * units : units, node.end - value_at);
    node.value = block.subspan(value_at, value_size);
    node.children = std::min(align4(value_at + value_size), node.end);
    return node;
}

bool same_key(std::u16string_view key, std::string_view name) {
    if (key.size() != name.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const auto lower = [](char32_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(key[i]) != lower(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
}

}  // namespace

std::optional<ByteView> pe_version_block(ByteView pe) {
    if (pe.size() < 64 || pe[0] != 'M' || pe[1] != 'Z') return std::nullopt;
    const std::size_t pe_at = u32_at(pe, 60);
    if (pe_at > pe.size() || pe.size() - pe_at < 24 || u32_at(pe, pe_at) != 0x00004550) return std::nullopt;
    const std::size_t sections = u16_at(pe, pe_at + 6);
    const std::size_t optional_size = u16_at(pe, pe_at + 20);
    const std::size_t optional_at = pe_at + 24;
    if (pe.size() - optional_at < optional_size + 40 * sections || optional_size < 2) return std::nullopt;
    const std::uint16_t magic = u16_at(pe, optional_at);
    const std::size_t count_at = magic == 0x20b ? 108 : magic == 0x10b ? 92 : 0;
    if (count_at == 0 || optional_size < count_at + 4 + 3 * 8 || u32_at(pe, optional_at + count_at) < 3)
        return std::nullopt;
    const std::size_t resources_at = optional_at + count_at + 4 + 2 * 8;
    const std::uint32_t rva = u32_at(pe, resources_at);
    const std::uint32_t size = u32_at(pe, resources_at + 4);
    const std::size_t sections_at = optional_at + optional_size;
    const std::optional<ByteView> rsrc = at_rva(pe, sections_at, sections, rva, size);
    if (!rsrc) return std::nullopt;

    // Type, name, language: two directories, then the data entry.
    std::optional<std::uint32_t> entry = directory_entry(*rsrc, 0, kVersionType);
    for (int level = 0; level < 2 && entry; ++level) {
        if (!(*entry & kSubdirectory)) return std::nullopt;
        entry = directory_entry(*rsrc, *entry & ~kSubdirectory, std::nullopt);
    }
    if (!entry || (*entry & kSubdirectory) || *entry > rsrc->size() || rsrc->size() - *entry < 16) return std::nullopt;
    return at_rva(pe, sections_at, sections, u32_at(*rsrc, *entry), u32_at(*rsrc, *entry + 4));
}

std::optional<ByteView> version_block_value(ByteView block, std::string_view path) {
    std::optional<VersionNode> node = read_node(block, 0, block.size());
    while (node && !path.empty()) {
        if (path.front() == '\\') {
            path.remove_prefix(1);
            continue;
        }
        const std::string_view name = path.substr(0, path.find('\\'));
        path.remove_prefix(name.size());
        std::optional<VersionNode> found;
        for (std::size_t at = node->children; at < node->end && !found;) {
            std::optional<VersionNode> child = read_node(block, at, node->end);
            if (!child) return std::nullopt;
            if (same_key(child->key, name)) found = std::move(child);
            else at = align4(child->end);
        }
        node = std::move(found);
    }
    if (!node) return std::nullopt;
    return node->value;
}

std::optional<std::string> version_block_string(ByteView block, std::string_view key) {
    const std::optional<ByteView> translation = version_block_value(block, "\\VarFileInfo\\Translation");
    if (!translation || translation->size() < 4) return std::nullopt;
    const std::optional<ByteView> value =
        version_block_value(block, version_string_query(u16_at(*translation, 0), u16_at(*translation, 2), key));
    if (!value) return std::nullopt;
    std::u16string units;
    for (std::size_t at = 0; at + 1 < value->size(); at += 2) {
        const char16_t unit = u16_at(*value, at);
        if (unit == 0) break;
        units.push_back(unit);
    }
    return version_value(utf16_to_utf8(units));
}

std::string version_string_query(std::uint16_t language, std::uint16_t code_page, std::string_view key) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%04x%04x", language, code_page);
    return "\\StringFileInfo\\" + std::string(hex) + "\\" + std::string(key);
}

std::optional<std::string> version_value(std::string_view raw) {
    const std::string_view trimmed = trim_unicode_space(raw);
    if (trimmed.empty()) return std::nullopt;
    return std::string(trimmed);
}

}  // namespace vorlix
