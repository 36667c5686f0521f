#include "json/record.h"

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

    const JsonFields members(value);
    std::vector<bool> seen(fields.size(), false);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Json* found = members.find(fields[i].key);
        if (!found) continue;
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

}  // namespace vorlix
