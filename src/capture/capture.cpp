#include "capture/capture.h"

#include <cstdio>

#include "capture/capture_system.h"

namespace vorlix {

std::string debug_form(const CaptureError& error) {
    if (error.kind == CaptureError::Kind::Lost) return "Lost";
    std::string out = "Failed(\"";
    for (unsigned char c : error.text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%x}", c);
                    out += buf;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out += "\")";
    return out;
}

std::string_view screen_block_name(ScreenBlock block) {
    switch (block) {
        case ScreenBlock::screen_locked: return "screenLocked";
        case ScreenBlock::secure_desktop: return "secureDesktop";
        case ScreenBlock::none: break;
    }
    return "";
}

}  // namespace vorlix
