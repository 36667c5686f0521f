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
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "json/fields.h"
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

// Reads one field value by its type's rule (fields.h); the refusal is
// type_error's. An optional takes null as none.
template <typename T>
Status read_typed(const Json& value, T& out) {
    constexpr JsonRule<T> rule = json_rule<T>();
    std::optional<T> read = rule.read(value);
    if (!read) return type_error(value, rule.expected);
    out = std::move(*read);
    return {};
}

template <typename T>
Status read_typed(const Json& value, std::optional<T>& out) {
    if (value.is_null()) {
        out.reset();
        return {};
    }
    T read{};
    if (Status s = read_typed(value, read); !s) return s;
    out = std::move(read);
    return {};
}

// The field reader of a record member.
template <typename T>
std::function<Status(const Json&)> read_into(T& out) {
    return [&out](const Json& value) { return read_typed(value, out); };
}

}  // namespace vorlix
