// The host's one JSON layer, on nlohmann/json. Every message and stored
// document is read and written through it.
//
// Value types
//   Json         generic value; objects keep their members sorted by key,
//                compared byte by byte (unsigned). Every reader produces it.
//   OrderedJson  value whose objects keep insertion order; build typed records
//                with it to write their keys in declaration order.
//   Both keep three kinds of number apart: a number written as an integer
//   (no fraction, no exponent) that fits 64 bits is held as an integer
//   (unsigned when non-negative, signed when negative); everything else,
//   including integers too large for 64 bits, is held as a float.
//
// Reading (parse_json)
//   Strict RFC 8259 in UTF-8: the whole text is one JSON value, only space,
//   tab, line feed and carriage return may surround it; no comments, no
//   trailing commas, no byte order mark, no unescaped control characters, no
//   ill-formed UTF-8 or lone surrogates, no number that overflows a double.
//   Nesting deeper than kMaxJsonDepth arrays/objects is refused, and so is a
//   document of more than kMaxJsonValues values.
//   DuplicateKeys::refuse      a member name given twice in any object of the
//                              document is an error (a SAX pass sees it where
//                              a DOM parser would hide it).
//   DuplicateKeys::keep_last   a repeated member name counts once, with its
//                              last value.
//   DuplicateKeys::refuse_at_top  a member name given twice in the document's
//                              own object is an error; inside its members'
//                              values a repeated name keeps its last value
//                              (a message reader that skips members it does
//                              not know need not judge what they hold).
//
// Writing
//   write_compact(Json)        compact, keys in ascending byte order at every
//                              level (what a Json holds).
//   write_compact(OrderedJson) compact, keys in insertion order.
//   write_indented(...)        two-space indent, "key": value, no final line
//                              feed; empty containers as [] and {}.
//   Strings: \" and \\ escaped; 8, 9, 10, 12, 13 as \b \t \n \f \r; other
//   code points below 32 as \u00xx (lower-case hex); everything else, solidus,
//   DEL and non-ASCII included, as raw UTF-8. Floats in the shortest form that
//   reads back to the same double, whole values with ".0"; NaN and infinities
//   as null. A string holding ill-formed UTF-8 makes the writers fail, unless
//   they are told to replace it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

constexpr int kMaxJsonDepth = 128;
// The most values (of any kind, containers included) one document may hold:
// three times the largest legitimate list, an ink stroke of 20,000 numbers.
// A document is refused at the first value past it, long before a hostile
// one could grow to many times its own size in memory.
constexpr std::size_t kMaxJsonValues = 65536;
// The error text of a document refused for holding more values.
inline constexpr std::string_view kTooManyJsonValues = "more than 65536 values";

enum class DuplicateKeys { refuse, keep_last, refuse_at_top };

// Parses one whole JSON text. The error text describes what failed.
Result<Json> parse_json(std::string_view text, DuplicateKeys duplicates);
Result<Json> parse_json(ByteView bytes, DuplicateKeys duplicates);

// What a writer does with a string holding ill-formed UTF-8: fail, or write
// U+FFFD in place of each bad sequence.
enum class BadUtf8 { fail, replace };

Result<std::string> write_compact(const Json& value, BadUtf8 bad = BadUtf8::fail);
Result<std::string> write_compact(const OrderedJson& value, BadUtf8 bad = BadUtf8::fail);
Result<std::string> write_indented(const Json& value, BadUtf8 bad = BadUtf8::fail);
Result<std::string> write_indented(const OrderedJson& value, BadUtf8 bad = BadUtf8::fail);

// --- typed access ------------------------------------------------------------
// Each gives nothing when the value is not of the kind named.

// A string.
std::optional<std::string> json_string(const Json& value);
// true or false (not 0, 1 or strings).
std::optional<bool> json_bool(const Json& value);
// A number written as an integer, within the signed 64-bit range.
std::optional<std::int64_t> json_i64(const Json& value);
// A number written as an integer, from 0 to 2^64 - 1.
std::optional<std::uint64_t> json_u64(const Json& value);
// A number written as an integer, from 0 to 2^32 - 1.
std::optional<std::uint32_t> json_u32(const Json& value);
// Any number, converted to the nearest double.
std::optional<double> json_f64(const Json& value);
// A string holding canonical standard Base64 (see base64.h).
std::optional<Bytes> json_base64(const Json& value);
// An array whose every element is a string.
std::optional<std::vector<std::string>> json_string_array(const Json& value);

// The kind of a value as error texts name it ("string \"abc\"", "integer 5",
// "map", "sequence", "null", ...).
std::string json_kind_text(const Json& value);

}  // namespace vorlix
