#include "win/stream/windows_stream.h"

#include <windows.h>
#include <objbase.h>

#include "host/log.h"
#include "win/capture/win_capture.h"

namespace vorlix {

void run_with_com(const std::function<void()>& body) {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    body();
    if (SUCCEEDED(hr)) CoUninitialize();
}

WindowsStreams::WindowsStreams(EncoderOpener open_encoder, SoundStarter start_sound)
    : capture_(make_windows_capture_system([](std::string_view line) { log_line(line); })),
      pointer_(make_windows_pointer_source(nullptr)) {
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
    slot_ = std::make_unique<StreamSlot>(std::move(seams), std::move(start_sound), run_with_com);
}

WindowsStreams::~WindowsStreams() { slot_.reset(); }

}  // namespace vorlix
