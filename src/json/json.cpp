#include "json/json.h"

#include <limits>
#include <utility>

#include "json/base64.h"

namespace vorlix {
namespace {

// Builds the document from the parser's events, like nlohmann's own DOM
// builder, but sees every member name as it arrives: a repeated one is either
// refused or left to overwrite the earlier value.
class DocumentBuilder {
public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    explicit DocumentBuilder(DuplicateKeys duplicates) : duplicates_(duplicates) {}

    bool null() { return put(Json(nullptr)) != nullptr; }
    bool boolean(bool v) { return put(Json(v)) != nullptr; }
    bool number_integer(number_integer_t v) { return put(Json(v)) != nullptr; }
    bool number_unsigned(number_unsigned_t v) { return put(Json(v)) != nullptr; }
    bool number_float(number_float_t v, const string_t&) { return put(Json(v)) != nullptr; }
    bool string(string_t& v) { return put(Json(std::move(v))) != nullptr; }
    bool binary(binary_t&) { return fail("binary values are not JSON"); }

    bool start_object(std::size_t) { return open(Json::object()); }
    bool start_array(std::size_t) { return open(Json::array()); }
    bool end_object() { stack_.pop_back(); return true; }
    bool end_array() { stack_.pop_back(); return true; }

    bool key(string_t& name) {
        Json& object = *stack_.back();
        auto found = object.find(name);
        if (found != object.end()) {
            const bool refused = duplicates_ == DuplicateKeys::refuse ||
                                 (duplicates_ == DuplicateKeys::refuse_at_top && stack_.size() == 1);
            if (refused) {
                return fail("duplicate member \"" + name + "\"");
            }
            slot_ = &*found;
        } else {
            slot_ = &object[name];
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
        std::string text = e.what();
        // Drop the library's "[json.exception.parse_error.101] " prefix.
        if (!text.empty() && text.front() == '[') {
            auto end = text.find("] ");
            if (end != std::string::npos) text.erase(0, end + 2);
        }
        return fail(std::move(text));
    }

    Json take() { return std::move(root_); }
    const std::string& error() const { return error_; }

private:
    Json* put(Json value) {
        if (++values_ > kMaxJsonValues) {
            fail(std::string(kTooManyJsonValues));
            return nullptr;
        }
        if (stack_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Json& top = *stack_.back();
        if (top.is_array()) {
            top.push_back(std::move(value));
            return &top.back();
        }
        *slot_ = std::move(value);
        return slot_;
    }

    bool open(Json container) {
        if (stack_.size() >= static_cast<std::size_t>(kMaxJsonDepth)) {
            return fail("nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels");
        }
        Json* placed = put(std::move(container));
        if (!placed) return false;
        stack_.push_back(placed);
        return true;
    }

    bool fail(std::string text) {
        if (error_.empty()) error_ = std::move(text);
        return false;
    }

    DuplicateKeys duplicates_;
    Json root_;
    std::vector<Json*> stack_;
    Json* slot_ = nullptr;
    std::size_t values_ = 0;
    std::string error_;
};

template <typename Value>
Result<std::string> dump(const Value& value, int indent, BadUtf8 bad) {
    try {
        return value.dump(indent, ' ', false,
                          bad == BadUtf8::fail ? nlohmann::detail::error_handler_t::strict
                                               : nlohmann::detail::error_handler_t::replace);
    } catch (const nlohmann::json::exception&) {
        return Error("a string is not valid UTF-8");
    }
}

}  // namespace

Result<Json> parse_json(std::string_view text, DuplicateKeys duplicates) {
    // RFC 8259 lets a parser ignore a byte order mark; this one refuses it,
    // since no writer of these documents puts one there.
    if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
        static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF) {
        return Error("a byte order mark is not JSON");
    }
    DocumentBuilder builder(duplicates);
    bool ok = Json::sax_parse(text.begin(), text.end(), &builder, nlohmann::json::input_format_t::json,
                              /*strict=*/true, /*ignore_comments=*/false);
    if (!ok) {
        return Error(builder.error().empty() ? std::string("not valid JSON") : builder.error());
    }
    return builder.take();
}

Result<Json> parse_json(ByteView bytes, DuplicateKeys duplicates) {
    return parse_json(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                      duplicates);
}

Result<std::string> write_compact(const Json& value, BadUtf8 bad) { return dump(value, -1, bad); }
Result<std::string> write_compact(const OrderedJson& value, BadUtf8 bad) { return dump(value, -1, bad); }
Result<std::string> write_indented(const Json& value, BadUtf8 bad) { return dump(value, 2, bad); }
Result<std::string> write_indented(const OrderedJson& value, BadUtf8 bad) { return dump(value, 2, bad); }

std::optional<std::string> json_string(const Json& value) {
    if (!value.is_string()) return std::nullopt;
    return value.get_ref<const std::string&>();
}

std::optional<bool> json_bool(const Json& value) {
    if (!value.is_boolean()) return std::nullopt;
    return value.get<bool>();
}

std::optional<std::int64_t> json_i64(const Json& value) {
    if (value.is_number_unsigned()) {
        auto v = value.get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(v);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    return std::nullopt;
}

std::optional<std::uint64_t> json_u64(const Json& value) {
    if (value.is_number_unsigned()) return value.get<std::uint64_t>();
    if (value.is_number_integer()) {
        auto v = value.get<std::int64_t>();
        if (v < 0) return std::nullopt;
        return static_cast<std::uint64_t>(v);
    }
    return std::nullopt;
}

std::optional<std::uint32_t> json_u32(const Json& value) {
    auto v = json_u64(value);
    if (!v || *v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::optional<double> json_f64(const Json& value) {
    if (value.is_number_unsigned()) return static_cast<double>(value.get<std::uint64_t>());
    if (value.is_number_integer()) return static_cast<double>(value.get<std::int64_t>());
    if (value.is_number_float()) return value.get<double>();
    return std::nullopt;
}

std::optional<Bytes> json_base64(const Json& value) {
    if (!value.is_string()) return std::nullopt;
    return base64_decode(value.get_ref<const std::string&>());
}

std::optional<std::vector<std::string>> json_string_array(const Json& value) {
    if (!value.is_array()) return std::nullopt;
    std::vector<std::string> out;
    out.reserve(value.size());
    for (const auto& element : value) {
        if (!element.is_string()) return std::nullopt;
        out.push_back(element.get<std::string>());
    }
    return out;
}

std::string json_kind_text(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null: return "null";
        case Json::value_t::boolean: return std::string("boolean `") + (value.get<bool>() ? "true" : "false") + "`";
        case Json::value_t::number_unsigned: return "integer `" + std::to_string(value.get<std::uint64_t>()) + "`";
        case Json::value_t::number_integer: return "integer `" + std::to_string(value.get<std::int64_t>()) + "`";
        case Json::value_t::number_float: return "floating point `" + value.dump() + "`";
        case Json::value_t::string: return "string " + value.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
        case Json::value_t::array: return "sequence";
        case Json::value_t::object: return "map";
        default: return "value";
    }
}

}  // namespace vorlix
