// What the clipboard watcher hands to the device, decided without system
// calls: a copied file only when it was copied alone, text within its size
// limit that is neither what the device just set nor what was offered last,
// and otherwise a picture. The remembered texts are kept here too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "util/bytes.h"

namespace vorlix {

// Text from 1 to this many UTF-8 bytes is offered; longer text is dropped.
constexpr std::size_t kMaxClipboardText = 999'999;
// A PNG for the device larger than this is dropped.
constexpr std::size_t kMaxClipboardPng = 11'999'999;
// A picture from the device is put on the clipboard up to this many pixels
// (width x height; an 8K screen has 33 million), each a 4-byte pixel in the
// decoded picture and again in the clipboard's block.
constexpr std::uint64_t kMaxClipboardPixels = 40'000'000;
// At most this many paths of a file drop are read.
constexpr std::size_t kMaxDropPaths = 64;

struct ClipboardPicture {
    enum class Kind { png, dib };
    Kind kind = Kind::png;
    Bytes bytes;
};

// What one reading of the clipboard found.
struct ClipboardContents {
    std::vector<std::string> paths;  // UTF-8
    std::optional<std::string> text;  // line ends already "\n"
    std::optional<ClipboardPicture> picture;
};

// The device's last text and the last text offered to it, each behind its
// own lock; never both held at once.
class ClipboardEcho {
public:
    // The device put this text on the clipboard: its change is not offered
    // back, nor the same text when another app copies it again. It is
    // remembered as a reading of the clipboard gives it back (line ends
    // "\n", cut at a NUL, invalid UTF-8 replaced).
    void remember_device_text(const std::string& text);
    // The text on the clipboard as a session starts (or none) becomes the baseline.
    void set_baseline(std::optional<std::string> text);
    // True (and remembered as offered) when the text is neither the device's
    // last text nor the last one offered.
    bool offer_if_new(const std::string& text);

private:
    std::mutex device_mutex_;
    std::optional<std::string> device_text_;
    std::mutex offered_mutex_;
    std::optional<std::string> offered_text_;
};

struct CopiedFile {
    std::string path;
};
struct OfferText {
    std::string text;
};
struct OfferPicture {
    ClipboardPicture picture;
};
using ClipboardDecision = std::variant<std::monostate, CopiedFile, OfferText, OfferPicture>;

// The decision for one reading: exactly one path that names a plain file is a
// copied file (and nothing else counts); otherwise text within the limits
// that echo lets through; otherwise, with no path at all, the picture.
ClipboardDecision decide_clipboard(ClipboardContents contents, ClipboardEcho& echo,
                                   const std::function<bool(const std::string&)>& is_plain_file);

// Text read from the clipboard for the device: every "\r\n" becomes "\n".
std::string clipboard_text_for_device(std::string_view text);
// Text from the device for the clipboard: line ends "\r\n" only.
std::string clipboard_text_for_pc(std::string_view text);
// What reading the clipboard gives after the device's text was put on it.
std::string clipboard_text_read_back(std::string_view text);
// The count of Unicode characters of UTF-8 text.
std::size_t count_characters(std::string_view text);

}  // namespace vorlix
