// A Windows program's version resource, read the way VerQueryValueW reads
// it but over plain bytes, so that the same code names the app in front (over
// the block GetFileVersionInfoW gives) and checks an update's program inside
// its archive (over the file's bytes) on any system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "util/bytes.h"

namespace vorlix {

// The VS_VERSIONINFO block of a PE file's version resource (its first name
// and first language); none when the file has none or its headers or
// resource tables do not hold together.
std::optional<ByteView> pe_version_block(ByteView pe);

// The value under `path` ("\VarFileInfo\Translation",
// "\StringFileInfo\040904b0\FileVersion"), keys compared without regard to
// ASCII case: a binary value's wValueLength bytes, a text value's
// wValueLength characters, either cut at the end of its node. None when a key
// is missing or the block is damaged there.
std::optional<ByteView> version_block_value(ByteView block, std::string_view path);

// One text of the block by key, in the first language and code page that the
// block's translation list names, trimmed; none when absent or empty.
std::optional<std::string> version_block_string(ByteView block, std::string_view key);

// The query of a key for a language and code page:
// "\StringFileInfo\{:04x}{:04x}\{key}".
std::string version_string_query(std::uint16_t language, std::uint16_t code_page, std::string_view key);

// A version value as read: trimmed of white space at both ends; none when
// nothing is left.
std::optional<std::string> version_value(std::string_view raw);

}  // namespace vorlix
