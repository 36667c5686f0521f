// Starting a stream for a session: the stream settings of a `configure`
// message, and the sound of a stream, which goes to the session's own link
// (none when only web watchers look) and to the watchers that asked for it.
#pragma once

#include <cstdint>
#include <memory>

#include "control/records.h"
#include "sound/sound_capture.h"
#include "stream/stream_loop.h"
#include "stream/stream_output.h"

namespace vorlix {

// The fields of a `configure` message the stream loop reads.
StreamSettings stream_settings(const StreamConfig& config);

// The sound links of a stream: the session's link for a device session,
// none for watchers only; the watchers of the stream's registry either way.
std::shared_ptr<SoundOutput> stream_sound_output(const StreamOutput& output);

// Starts "vorlix-sound" for a stream on its output's links, with sources
// from `make_source`. The stream thread calls it only for a stream
// configured with `audio`, and stops and waits for the thread as it ends.
SoundStarter stream_sound_starter(std::shared_ptr<StreamOutput> output, SoundSourceFactory make_source);

// Starts the next stream on the slot for `output` (the slot stops the
// previous one, and the new thread waits for it).
void start_output_stream(StreamSlot& slot, const StreamConfig& config, std::int64_t stream_number,
                         std::shared_ptr<StreamOutput> output, SoundSourceFactory make_source);

}  // namespace vorlix
