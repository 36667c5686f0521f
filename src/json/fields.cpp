#include "json/fields.h"

namespace vorlix {

const Json* JsonFields::find(std::string_view key) const {
    if (!object_) return nullptr;
    auto found = object_->find(key);
    return found == object_->end() ? nullptr : &*found;
}

const Json* JsonFields::find_set(std::string_view key) const {
    const Json* member = find(key);
    return member && !member->is_null() ? member : nullptr;
}

}  // namespace vorlix
