#include "capture/open_capture.h"

#include "host/log.h"
#include "win/capture/win_capture.h"

namespace vorlix {

namespace {

CaptureOpeners windows_openers(const CaptureLog& log) {
    CaptureOpeners openers;
    openers.open_gdi = open_gdi_capture;
    openers.open_duplication = create_duplication;
    openers.log = log ? log : CaptureLog([](std::string_view line) { log_line(line); });
    return openers;
}

bool forced_gdi() { return capture_forced_to_gdi(read_environment(L"VORLIX_CAPTURE")); }

class WindowsCaptureSystem final : public CaptureSystem {
public:
    explicit WindowsCaptureSystem(CaptureLog log) : log_(std::move(log)) {}
    MonitorInfo primary_monitor() override { return vorlix::primary_monitor(); }
    ScreenBlock screen_block_reason() override { return vorlix::screen_block_reason(); }
    Result<CaptureBackendPtr> open_capture(const MonitorInfo& monitor) override {
        return vorlix::open_capture(monitor, log_);
    }
    CaptureBackendPtr open_desktop_duplication(const MonitorInfo& monitor) override {
        return vorlix::open_desktop_duplication(monitor);
    }

private:
    CaptureLog log_;
};

}  // namespace

Result<CaptureBackendPtr> open_capture(const MonitorInfo& monitor, const CaptureLog& log) {
    return choose_capture(monitor, forced_gdi(), windows_openers(log));
}

CaptureBackendPtr open_desktop_duplication(const MonitorInfo& monitor) {
    return choose_desktop_duplication(monitor, forced_gdi(), windows_openers(nullptr));
}

std::unique_ptr<CaptureSystem> make_windows_capture_system(CaptureLog log) {
    return std::make_unique<WindowsCaptureSystem>(std::move(log));
}

}  // namespace vorlix
