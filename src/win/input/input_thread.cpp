#include "win/input/input_thread.h"

#include <windows.h>

#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "host/log.h"
#include "util/thread_name.h"
#include "win/capture/win_capture.h"
#include "win/platform.h"
#include "win/system/wide.h"
#include "win/system/system_function.h"

namespace vorlix {

namespace {

using namespace input;

INPUT to_system_input(const InputRecord& record) {
    INPUT in{};
    if (const auto* key = std::get_if<KeyRecord>(&record)) {
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = key->vk;
        in.ki.wScan = (key->flags & KEY_UNICODE) ? key->scan
                                                  : static_cast<WORD>(MapVirtualKeyW(key->vk, MAPVK_VK_TO_VSC));
        in.ki.dwFlags = key->flags;
        in.ki.dwExtraInfo = EXTRA_INFO_MARKER;
    } else {
        const auto& mouse = std::get<MouseRecord>(record);
        in.type = INPUT_MOUSE;
        in.mi.dx = mouse.dx;
        in.mi.dy = mouse.dy;
        in.mi.mouseData = static_cast<DWORD>(mouse.data);
        in.mi.dwFlags = mouse.flags;
        in.mi.dwExtraInfo = EXTRA_INFO_MARKER;
    }
    return in;
}

// The keyboard layout of the thread that owns the window in front, else
// this thread's.
HKL front_window_layout() {
    if (HWND front = GetForegroundWindow()) {
        if (DWORD thread = GetWindowThreadProcessId(front, nullptr)) {
            if (HKL layout = GetKeyboardLayout(thread)) return layout;
        }
    }
    return GetKeyboardLayout(0);
}

// The synthetic pen device's functions, looked up at run time: they are
// missing before Windows 10 1809 (and under Wine).
struct PenFunctions {
    decltype(&CreateSyntheticPointerDevice) create = nullptr;
    decltype(&InjectSyntheticPointerInput) inject = nullptr;
    decltype(&DestroySyntheticPointerDevice) destroy = nullptr;

    PenFunctions()
        : create(system_function<decltype(create)>(L"user32.dll", "CreateSyntheticPointerDevice")),
          inject(system_function<decltype(inject)>(L"user32.dll", "InjectSyntheticPointerInput")),
          destroy(system_function<decltype(destroy)>(L"user32.dll", "DestroySyntheticPointerDevice")) {}
};

class WindowsInputSystem final : public InputSystem {
public:
    ~WindowsInputSystem() override { WindowsInputSystem::destroy_pen(); }

    Instant now() override { return StreamClock::now(); }
    void sleep(std::chrono::milliseconds time) override { std::this_thread::sleep_for(time); }
    MonitorInfo primary_monitor() override { return vorlix::primary_monitor(); }
    VirtualScreen virtual_screen() override {
        return {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    }
    std::optional<std::pair<std::int32_t, std::int32_t>> cursor_position() override {
        POINT p{};
        if (!GetCursorPos(&p)) return std::nullopt;
        return std::pair<std::int32_t, std::int32_t>{p.x, p.y};
    }
    void send(const InputRecords& records) override {
        std::vector<INPUT> inputs;
        inputs.reserve(records.size());
        for (const auto& r : records) inputs.push_back(to_system_input(r));
        SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    }
    KeyScan key_scan() override {
        return [layout = front_window_layout()](char16_t c) {
            return static_cast<std::uint16_t>(VkKeyScanExW(static_cast<WCHAR>(c), layout));
        };
    }
    // Read on this thread, which reads no key messages. Attaching to the
    // input of the window in front would show the toggle as that window sees
    // it, but the attach resets the key state (a key the user holds may be
    // lost to that window) and ties this thread to an app that may hang.
    bool caps_lock_on() override { return (GetKeyState(VK_CAPITAL) & 1) != 0; }
    void lock_workstation() override { LockWorkStation(); }

    bool create_pen() override {
        HSYNTHETICPOINTERDEVICE device = nullptr;
        DWORD error = ERROR_PROC_NOT_FOUND;
        if (pen_.create && pen_.inject && pen_.destroy) {
            device = pen_.create(PT_PEN, 1, POINTER_FEEDBACK_DEFAULT);
            error = GetLastError();
        }
        if (!device || device == INVALID_HANDLE_VALUE) {
            log_line("pen: no synthetic pen device (" + system_error_text(error) + "); the Pencil acts as the mouse");
            return false;
        }
        device_ = device;
        log_line("pen: synthetic pen device ready");
        return true;
    }
    bool inject_pen(const PenFrame& frame) override {
        POINTER_TYPE_INFO info{};
        info.type = PT_PEN;
        POINTER_PEN_INFO& pen = info.penInfo;
        pen.pointerInfo.pointerType = PT_PEN;
        pen.pointerInfo.pointerFlags = frame.flags | POINTER_FLAG_PRIMARY;
        pen.pointerInfo.ptPixelLocation = POINT{frame.x, frame.y};
        pen.penMask = PEN_MASK_PRESSURE | PEN_MASK_TILT_X | PEN_MASK_TILT_Y;
        pen.pressure = frame.pressure;
        pen.tiltX = frame.tilt_x;
        pen.tiltY = frame.tilt_y;
        if (device_ && pen_.inject(device_, &info, 1)) return true;
        log_line("pen: injection failed (" + system_error_text(GetLastError()) + ")");
        return false;
    }
    void destroy_pen() override {
        if (device_) pen_.destroy(device_);
        device_ = nullptr;
    }

private:
    PenFunctions pen_;
    HSYNTHETICPOINTERDEVICE device_ = nullptr;
};

bool pen_to_mouse_from_environment() {
    const char* value = std::getenv("VORLIX_PEN");
    return value && std::string(value) == "mouse";
}

}  // namespace

std::unique_ptr<InputSystem> make_windows_input_system() { return std::make_unique<WindowsInputSystem>(); }

std::shared_ptr<InputQueue> start_input_thread(std::shared_ptr<EventSlot> events) {
    auto queue = std::make_shared<InputQueue>();
    try {
        std::thread([queue, events = std::move(events)]() mutable {
            set_current_thread_name("vorlix-input");
            auto system = make_windows_input_system();
            run_input_loop(*queue, *system, pen_to_mouse_from_environment(),
                           [&events](control::Pointer pointer) {
                               if (events) deliver_event(*events, ControlMessage{std::move(pointer)});
                           });
            events.reset();
        }).detach();
    } catch (const std::system_error& e) {
        log_line(std::string("input: could not start its thread: ") + e.what());
        queue->close();
    }
    return queue;
}

}  // namespace vorlix
