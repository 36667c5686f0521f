// What the host core needs of its neighbours (reach, texts), behind small
// interfaces. The defaults here are the host's behaviour without a relay and
// its texts from the built-in translation tables.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "i18n/i18n.h"

namespace vorlix {

class HostState;

// Relay registration and watch links.
class ReachServices {
public:
    virtual ~ReachServices() = default;

    // Registers for sessions at the relays while relay use is allowed and a
    // device is trusted; stops the registrations otherwise. Without a relay:
    // nothing to do.
    virtual void update_relay_registration(HostState& host);

    // The number of live watch links (the expired ones are dropped first).
    virtual std::uint64_t count_watch_links();

    // Ends every watch link and sends the browsers that watch through one
    // away; logs "watch links ended ({}); {} browser(s) sent away".
    virtual void end_watch_links(HostState& host, const std::string& reason);

    // Makes a new watch link and answers its address; nothing when it is
    // refused. Without a relay every request is refused.
    virtual std::optional<std::string> open_watch_link(HostState& host);

    // Whether the watch link with this creation number is still held (a
    // browser is taken as a viewer only then).
    virtual bool holds_watch_link(std::uint64_t seq);

    // Writes what the relays' link log counts (as the host lets go of its
    // state). Without a relay: nothing to do.
    virtual void flush_link_log();
};

// The look-up of user texts by key, in the chosen language (the built-in
// translation tables; tests may replace it).
class TextServices {
public:
    virtual ~TextServices() = default;

    // The text of a dotted key in the current language (the key itself when
    // there is none).
    virtual std::string translate(std::string_view key);

    // As translate, with the placeholders ("{name}") filled from the pairs.
    virtual std::string translate_with(std::string_view key,
                                       const std::vector<std::pair<std::string, std::string>>& values);

    // The text of a key in the language chosen for the window.
    virtual std::string lookup_text(std::string_view key);
};

}  // namespace vorlix
