#include "host/neighbours.h"

#include <array>

#include "host/host_state.h"

namespace vorlix {

void ReachServices::update_relay_registration(HostState&) {}

std::uint64_t ReachServices::count_watch_links() { return 0; }

void ReachServices::end_watch_links(HostState& host, const std::string&) {
    // Without a relay there is no web registration, so nothing is logged;
    // browsers listed as watching through a link are still sent away.
    host.send_away_web_viewers();
}

std::optional<std::string> ReachServices::open_watch_link(HostState&) { return std::nullopt; }

namespace {

struct EnglishText {
    std::string_view key;
    std::string_view text;
};

// The English texts of the keys the host core itself looks up.
constexpr std::array<EnglishText, 6> kEnglish{{
    {"event.locked", "Five wrong codes in a row: pairing is closed for a minute."},
    {"event.wrong_code", "A device entered the wrong code. Here is a new one."},
    {"event.paired", "Paired with {name}."},
    {"event.signed_in", "{name} signed in."},
    {"stream.summary", "{width} \xC3\x97 {height} \xC2\xB7 {fps} fps \xC2\xB7 H.264"},
    {"stream.stopped", "Picture stopped. Trying again\xE2\x80\xA6"},
}};

}  // namespace

std::string TextServices::translate(std::string_view key) {
    for (const auto& entry : kEnglish) {
        if (entry.key == key) return std::string(entry.text);
    }
    return std::string(key);
}

std::string TextServices::translate_with(std::string_view key,
                                         const std::vector<std::pair<std::string, std::string>>& values) {
    return fill_placeholders(translate(key), values);
}

std::string TextServices::lookup_text(std::string_view key) { return translate(key); }

std::string fill_placeholders(std::string_view text, const std::vector<std::pair<std::string, std::string>>& values) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '{') {
            std::size_t close = text.find('}', i + 1);
            if (close != std::string_view::npos) {
                std::string_view name = text.substr(i + 1, close - i - 1);
                bool filled = false;
                for (const auto& [key, value] : values) {
                    if (key == name) {
                        out += value;
                        filled = true;
                        break;
                    }
                }
                if (filled) {
                    i = close + 1;
                    continue;
                }
            }
        }
        out += text[i++];
    }
    return out;
}

}  // namespace vorlix
