// The platform's streams on Windows: the stream slot with the real clock,
// Desktop Duplication and GDI capture, the encoder opener, the sound source
// and COM on every stream thread.
#pragma once

#include <memory>

#include "capture/capture_system.h"
#include "capture/cursor_report.h"
#include "control/records.h"
#include "sound/sound_capture.h"
#include "stream/stream_loop.h"
#include "stream/stream_output.h"

namespace vorlix {

class WindowsStreams {
public:
    // `open_encoder` is the encoder opener streams use (encoder_open
    // normally); `make_sound_source` makes the sound source of each stream
    // configured with sound (the loopback capture normally).
    WindowsStreams(EncoderOpener open_encoder, SoundSourceFactory make_sound_source);
    ~WindowsStreams();

    // Starts the next stream for a session or for watchers; the current one
    // is told to stop and the new thread waits for it.
    void start_stream(const StreamConfig& config, std::int64_t stream_number, std::shared_ptr<StreamOutput> output);

    StreamSlot& slot() { return *slot_; }

private:
    std::unique_ptr<CaptureSystem> capture_;
    std::unique_ptr<PointerSource> pointer_;
    SoundSourceFactory make_sound_source_;
    std::unique_ptr<StreamSlot> slot_;  // released first: it waits for the stream threads
};

// Runs a stream thread's body inside the multithreaded COM apartment.
void run_with_com(const std::function<void()>& body);

}  // namespace vorlix
