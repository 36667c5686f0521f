#include "watch/clipboard_rules.h"

#include "app/text.h"

namespace vorlix {

namespace {

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0;;) {
        const std::size_t found = text.find(from, at);
        out.append(text.substr(at, found - at));
        if (found == std::string_view::npos) return out;
        out.append(to);
        at = found + from.size();
    }
}

}  // namespace

void ClipboardEcho::remember_device_text(const std::string& text) {
    const std::string read_back = clipboard_text_read_back(text);
    {
        std::lock_guard lock(device_mutex_);
        device_text_ = read_back;
    }
    std::lock_guard lock(offered_mutex_);
    offered_text_ = read_back;
}

void ClipboardEcho::set_baseline(std::optional<std::string> text) {
    std::lock_guard lock(offered_mutex_);
    offered_text_ = std::move(text);
}

bool ClipboardEcho::offer_if_new(const std::string& text) {
    {
        std::lock_guard lock(device_mutex_);
        if (device_text_ == text) return false;
    }
    std::lock_guard lock(offered_mutex_);
    if (offered_text_ == text) return false;
    offered_text_ = text;
    return true;
}

ClipboardDecision decide_clipboard(ClipboardContents contents, ClipboardEcho& echo,
                                   const std::function<bool(const std::string&)>& is_plain_file) {
    if (contents.paths.size() == 1) {
        if (is_plain_file(contents.paths.front())) return CopiedFile{std::move(contents.paths.front())};
        return std::monostate{};
    }
    if (contents.text && !contents.text->empty() && contents.text->size() <= kMaxClipboardText) {
        if (echo.offer_if_new(*contents.text)) return OfferText{std::move(*contents.text)};
        return std::monostate{};
    }
    if (contents.paths.empty() && contents.picture) return OfferPicture{std::move(*contents.picture)};
    return std::monostate{};
}

std::string clipboard_text_for_device(std::string_view text) { return replace_all(text, "\r\n", "\n"); }

std::string clipboard_text_for_pc(std::string_view text) {
    return replace_all(replace_all(text, "\r\n", "\n"), "\n", "\r\n");
}

std::string clipboard_text_read_back(std::string_view text) {
    return clipboard_text_for_device(utf16_to_utf8(utf8_to_utf16(clipboard_text_for_pc(text))));
}

std::size_t count_characters(std::string_view text) {
    std::size_t count = 0;
    for (unsigned char c : text) count += (c & 0xC0) != 0x80;
    return count;
}

}  // namespace vorlix
