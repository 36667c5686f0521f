#include "win/stream/windows_stream.h"

#include <windows.h>
#include <objbase.h>

#include <thread>

#include "host/log.h"
#include "input/injector.h"
#include "stream/stream_start.h"
#include "win/capture/win_capture.h"

namespace vorlix {

void run_with_com(const std::function<void()>& body) {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    body();
    if (SUCCEEDED(hr)) CoUninitialize();
}

WindowsStreams::WindowsStreams(EncoderOpener open_encoder, SoundSourceFactory make_sound_source)
    : capture_(make_windows_capture_system([](std::string_view line) { log_line(line); })),
      pointer_(make_windows_pointer_source(input::last_device_move)),
      make_sound_source_(std::move(make_sound_source)) {
    StreamSeams seams;
    seams.clock = &system_loop_clock();
    seams.capture = capture_.get();
    seams.open_encoder = std::move(open_encoder);
    seams.log = [](std::string_view line) { log_line(line); };
    seams.cursor_sender = [pointer = pointer_.get()] {
        return std::make_unique<CursorReporter>(*pointer, system_loop_clock());
    };
    seams.encoder_setting = read_environment(L"VORLIX_ENCODER");
    seams.slow_ms_setting = read_environment(L"VORLIX_SLOW_MS");
    seams.hardware_encoding_off = &hardware_encoding_off();
    slot_ = std::make_unique<StreamSlot>(std::move(seams), nullptr, run_with_com);
}

WindowsStreams::~WindowsStreams() {
    // The last holder of the platform may be a stream thread itself (a
    // callback it holds keeps the platform): that thread is ending anyway and
    // cannot wait for itself, so it is let go.
    if (auto current = slot_->current()) {
        current->running.store(0);
        std::lock_guard lock(current->thread_mutex);
        if (current->thread && current->thread->get_id() == std::this_thread::get_id()) {
            current->thread->detach();
            current->thread.reset();
        }
    }
    slot_.reset();
}

void WindowsStreams::start_stream(const StreamConfig& config, std::int64_t stream_number,
                                  std::shared_ptr<StreamOutput> output) {
    start_output_stream(*slot_, config, stream_number, std::move(output), make_sound_source_);
}

}  // namespace vorlix
