// A stream's connection to its audience: the device link it streams to (or
// none, when only web watchers look), that link's frame ledger, the web
// watchers, and the session's callbacks. The session builds it; the stream
// sends its Video frames, its picture format and its notices through it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "host/link_writer.h"
#include "host/watchers.h"
#include "stream/frame_ledger.h"
#include "stream/stream_loop.h"

namespace vorlix {

struct StreamOutput {
    enum class Kind { device_session, watchers_only };

    Kind kind = Kind::device_session;
    LinkWriter link;  // the device link's writer; not valid() for watchers only
    std::uint64_t session_number = 0;
    std::shared_ptr<FrameLedger> ledger;
    std::shared_ptr<WebWatcherRegistry> watchers;
    // The stream-info callback: the encoded size and fps of each announced
    // picture format (for the window's stream summary).
    std::function<void(std::int64_t pixels_wide, std::int64_t pixels_high, std::int64_t fps)> stream_info;
    // The picture-stopped callback: a stop reason code, or kPictureResumed.
    std::function<void(std::uint8_t)> picture_stopped;
};

// The `streamInfo` message of a picture format, as sent to devices and watchers.
std::string stream_info_message(const StreamGeometry& geometry, std::uint32_t fps, std::int64_t stream_number);
// A `notice` message.
std::string notice_message(std::string_view text);

// The stream loop's audience on a StreamOutput.
std::shared_ptr<StreamAudience> make_output_audience(std::shared_ptr<StreamOutput> output,
                                                     std::function<void(std::string_view)> log = nullptr);

}  // namespace vorlix
