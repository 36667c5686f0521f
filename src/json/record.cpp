#include "json/record.h"

#include <limits>
#include <vector>

namespace vorlix {

Error type_error(const Json& value, std::string_view expected) {
    return Error("invalid type: " + json_kind_text(value) + ", expected " + std::string(expected));
}

Status read_record(const Json& value, std::string_view struct_name, std::span<const RecordField> fields,
                   std::size_t min_array_length) {
    if (value.is_array()) {
        if (value.size() < min_array_length) {
            return Error("invalid length " + std::to_string(value.size()) + ", expected struct " +
                         std::string(struct_name) + " with " + std::to_string(fields.size()) + " elements");
        }
        if (value.size() > fields.size()) {
            return Error("invalid length " + std::to_string(value.size()) + ", expected fewer elements in array");
        }
        for (std::size_t i = 0; i < value.size(); ++i) {
            Status s = fields[i].read(value[i]);
            if (!s) return s;
        }
        return {};
    }
    if (!value.is_object()) return type_error(value, "struct " + std::string(struct_name));

    std::vector<bool> seen(fields.size(), false);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        auto found = value.find(fields[i].key);
        if (found == value.end()) continue;
        seen[i] = true;
        Status s = fields[i].read(*found);
        if (!s) return s;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (!seen[i] && !fields[i].may_be_missing) {
            return Error("missing field `" + std::string(fields[i].key) + "`");
        }
    }
    return {};
}

std::function<Status(const Json&)> read_into(std::int64_t& out) {
    return [&out](const Json& v) -> Status {
        auto x = json_i64(v);
        if (!x) return type_error(v, "i64");
        out = *x;
        return {};
    };
}

std::function<Status(const Json&)> read_into(std::uint64_t& out) {
    return [&out](const Json& v) -> Status {
        auto x = json_u64(v);
        if (!x) return type_error(v, "u64");
        out = *x;
        return {};
    };
}

std::function<Status(const Json&)> read_into(std::uint32_t& out) {
    return [&out](const Json& v) -> Status {
        auto x = json_u64(v);
        if (!x || *x > std::numeric_limits<std::uint32_t>::max()) return type_error(v, "u32");
        out = static_cast<std::uint32_t>(*x);
        return {};
    };
}

std::function<Status(const Json&)> read_into(bool& out) {
    return [&out](const Json& v) -> Status {
        auto x = json_bool(v);
        if (!x) return type_error(v, "a boolean");
        out = *x;
        return {};
    };
}

std::function<Status(const Json&)> read_into(double& out) {
    return [&out](const Json& v) -> Status {
        auto x = json_f64(v);
        if (!x) return type_error(v, "f64");
        out = *x;
        return {};
    };
}

std::function<Status(const Json&)> read_into(std::string& out) {
    return [&out](const Json& v) -> Status {
        if (!v.is_string()) return type_error(v, "a string");
        out = v.get<std::string>();
        return {};
    };
}

std::function<Status(const Json&)> read_into(std::optional<std::int64_t>& out) {
    return [&out](const Json& v) -> Status {
        if (v.is_null()) { out.reset(); return {}; }
        auto x = json_i64(v);
        if (!x) return type_error(v, "i64");
        out = *x;
        return {};
    };
}

std::function<Status(const Json&)> read_into(std::optional<std::uint32_t>& out) {
    return [&out](const Json& v) -> Status {
        if (v.is_null()) { out.reset(); return {}; }
        auto x = json_u64(v);
        if (!x || *x > std::numeric_limits<std::uint32_t>::max()) return type_error(v, "u32");
        out = static_cast<std::uint32_t>(*x);
        return {};
    };
}

std::function<Status(const Json&)> read_into(std::optional<bool>& out) {
    return [&out](const Json& v) -> Status {
        if (v.is_null()) { out.reset(); return {}; }
        auto x = json_bool(v);
        if (!x) return type_error(v, "a boolean");
        out = *x;
        return {};
    };
}

std::function<Status(const Json&)> read_into(std::optional<std::string>& out) {
    return [&out](const Json& v) -> Status {
        if (v.is_null()) { out.reset(); return {}; }
        if (!v.is_string()) return type_error(v, "a string");
        out = v.get<std::string>();
        return {};
    };
}

}  // namespace vorlix
