// Reading typed records strictly from a parsed JSON value: as an object whose
// keys are matched exactly (unknown keys skipped), or in the positional form,
// an array of the field values in field order. The error texts follow one
// pattern:
//   invalid type: <kind>, expected struct <Name>
//   invalid type: <kind>, expected <what the field wanted>
//   missing field `<key>`                (the first missing one in field order)
//   invalid length <n>, expected struct <Name> with <k> elements
//   invalid length <n>, expected fewer elements in array
// A repeated key never reaches this reader: the parse refused it or kept the
// last value (json.h).
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "json/json.h"

namespace vorlix {

struct RecordField {
    std::string_view key;
    // A field that may be missing (it keeps its default or stays absent).
    bool may_be_missing = false;
    // Reads the field's value into the caller's record. Gives an error text
    // (normally from type_error) when the value is refused.
    std::function<Status(const Json&)> read;
};

// `min_array_length`: how many positional elements must be there; the fields
// after them keep their defaults.
Status read_record(const Json& value, std::string_view struct_name, std::span<const RecordField> fields,
                   std::size_t min_array_length);

// "invalid type: <kind of value>, expected <expected>".
Error type_error(const Json& value, std::string_view expected);

// Field readers for the usual shapes. The optional forms take null as none.
std::function<Status(const Json&)> read_into(std::int64_t& out);
std::function<Status(const Json&)> read_into(std::uint64_t& out);
std::function<Status(const Json&)> read_into(std::uint32_t& out);
std::function<Status(const Json&)> read_into(bool& out);
std::function<Status(const Json&)> read_into(double& out);
std::function<Status(const Json&)> read_into(std::string& out);
std::function<Status(const Json&)> read_into(std::optional<std::int64_t>& out);
std::function<Status(const Json&)> read_into(std::optional<std::uint32_t>& out);
std::function<Status(const Json&)> read_into(std::optional<bool>& out);
std::function<Status(const Json&)> read_into(std::optional<std::string>& out);

}  // namespace vorlix
