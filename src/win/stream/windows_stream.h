// The platform's streams on Windows: the stream slot with the real clock,
// Desktop Duplication and GDI capture, the encoder opener and COM on every
// stream thread.
#pragma once

#include <memory>

#include "capture/capture_system.h"
#include "capture/cursor_report.h"
#include "stream/stream_loop.h"

namespace vorlix {

class WindowsStreams {
public:
    // `open_encoder` is the encoder opener streams use (encoder_open normally).
    WindowsStreams(EncoderOpener open_encoder, SoundStarter start_sound);
    ~WindowsStreams();

    StreamSlot& slot() { return *slot_; }

private:
    std::unique_ptr<CaptureSystem> capture_;
    std::unique_ptr<PointerSource> pointer_;
    std::unique_ptr<StreamSlot> slot_;  // released first: it waits for the stream threads
};

// Runs a stream thread's body inside the multithreaded COM apartment.
void run_with_com(const std::function<void()>& body);

}  // namespace vorlix
