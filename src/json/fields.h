// Typed reading of JSON values and of the members of a JSON object, shared by
// the record and message readers.
//
//   json_rule<T>()   how a value of type T is read (the typed access of
//                    json.h that takes it) and what a refusal names as
//                    expected: i64, u64, u32, f64, a boolean, a string,
//                    Base64 bytes.
//   json_as<T>(v)    the value as T, or nothing when it is not of T's kind.
//   JsonFields       the members of one object by key. get<T> is the lenient
//                    read: a member that is absent or of another kind gives
//                    nothing. A value that is not an object reads as an
//                    object without members.
// The strict forms (a missing or mistyped member refuses the whole record)
// build on these: read_record in record.h, and the handshake messages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "json/json.h"
#include "util/bytes.h"

namespace vorlix {

template <typename T>
struct JsonRule {
    std::optional<T> (*read)(const Json&);
    // The type as a refusal names it: "invalid type: <kind>, expected <expected>".
    std::string_view expected;
};

template <typename T>
constexpr JsonRule<T> json_rule() {
    if constexpr (std::is_same_v<T, std::int64_t>) return {json_i64, "i64"};
    else if constexpr (std::is_same_v<T, std::uint64_t>) return {json_u64, "u64"};
    else if constexpr (std::is_same_v<T, std::uint32_t>) return {json_u32, "u32"};
    else if constexpr (std::is_same_v<T, double>) return {json_f64, "f64"};
    else if constexpr (std::is_same_v<T, bool>) return {json_bool, "a boolean"};
    else if constexpr (std::is_same_v<T, std::string>) return {json_string, "a string"};
    else if constexpr (std::is_same_v<T, Bytes>) return {json_base64, "Base64 bytes"};
    else static_assert(sizeof(T) == 0, "no JSON reading rule for this type");
}

template <typename T>
std::optional<T> json_as(const Json& value) {
    return json_rule<T>().read(value);
}

// Refers to the value it is given, which must outlive it.
class JsonFields {
public:
    explicit JsonFields(const Json& value) : object_(value.is_object() ? &value : nullptr) {}

    bool is_object() const { return object_ != nullptr; }

    // The member named `key` (null included); nullptr when it is absent.
    const Json* find(std::string_view key) const;
    // The member named `key` unless it is absent or null.
    const Json* find_set(std::string_view key) const;

    // The member's value when it is there and of T's kind.
    template <typename T>
    std::optional<T> get(std::string_view key) const {
        const Json* member = find(key);
        if (!member) return std::nullopt;
        return json_as<T>(*member);
    }

private:
    const Json* object_;
};

}  // namespace vorlix
