// The input thread drives the real pointer and keyboard: absolute moves land
// where asked, keys and text reach the edit control in front, and a pen with
// no synthetic device clicks as the mouse.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "capture/cursor_png.h"
#include "capture/cursor_report.h"
#include "support/wait.h"
#include "win/capture/win_capture.h"
#include "win/input/input_thread.h"
#include "win/input/keyboard_layout.h"
#include "win/platform.h"

namespace vorlix {
namespace {

std::atomic<int> clicks{0};

LRESULT CALLBACK frame_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_LBUTTONUP) ++clicks;
    return DefWindowProcW(window, message, w, l);
}

// Pumps this thread's messages while waiting.
template <typename Predicate>
bool pump_until(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return wait_until([&] {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return done();
    }, limit);
}

std::wstring edit_text(HWND edit) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
    return text;
}

InputEvent key(bool down, std::uint16_t code) { return InputEvent(input::Key{down, code, 0}); }

TEST(InputInjection, MovesTypesAndClicksThroughTheInputThread) {
    const MonitorInfo monitor = primary_monitor();
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = frame_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"VorlixInputTest";
    RegisterClassW(&window_class);
    HWND frame = CreateWindowExW(WS_EX_TOPMOST, L"VorlixInputTest", L"input", WS_POPUP | WS_VISIBLE, monitor.left,
                                 monitor.top, monitor.width, monitor.height, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(frame, nullptr);
    HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 10, 10, 400, 30, frame,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(edit, nullptr);
    SetForegroundWindow(frame);
    SetFocus(edit);
    pump_until([] { return false; }, std::chrono::milliseconds(100));

    auto events = std::make_shared<EventSlot>();
    auto input = start_input_thread(events);

    // An absolute move puts the real cursor on the asked point.
    input->send(InputEvent(input::MoveTo{0.25f, 0.75f}));
    const POINT wanted{monitor.left + monitor.width / 4, monitor.top + monitor.height * 3 / 4};
    EXPECT_TRUE(pump_until([&] {
        POINT p{};
        return GetCursorPos(&p) && p.x == wanted.x && p.y == wanted.y;
    }));

    // Keys, then text with Shift, a character only Unicode input types and
    // one beyond the basic plane.
    input->send(key(true, 0x38));  // Shift
    input->send(key(true, 0x04));  // H
    input->send(key(false, 0x04));
    input->send(key(false, 0x38));
    input->send(key(true, 0x22));  // I
    input->send(key(false, 0x22));
    input->send(InputEvent(input::Text{" there! \xE2\x82\xAC\xF0\x9F\x98\x80"}));
    const std::wstring expected = L"Hi there! \u20AC\U0001F600";
    EXPECT_TRUE(pump_until([&] { return edit_text(edit) == expected; }));
    EXPECT_EQ(edit_text(edit), expected);

    // Text from Windows into a multi-line control: every character once, one
    // line break for each CR LF.
    HWND lines = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN, 10, 50, 400,
                                 120, frame, nullptr, nullptr, nullptr);
    ASSERT_NE(lines, nullptr);
    SetFocus(lines);
    input->send(InputEvent(input::Text{"one\r\ntwo\r\n\r\nthree"}));
    const std::wstring typed = L"one\r\ntwo\r\n\r\nthree";
    EXPECT_TRUE(pump_until([&] { return edit_text(lines).size() >= typed.size(); }));
    pump_until([] { return false; }, std::chrono::milliseconds(100));  // nothing more comes
    EXPECT_EQ(edit_text(lines), typed);

    // Caps Lock on: typed text keeps its case.
    const auto toggle_caps_lock = [] {
        INPUT press[2] = {};
        press[0].type = press[1].type = INPUT_KEYBOARD;
        press[0].ki.wVk = press[1].ki.wVk = VK_CAPITAL;
        press[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, press, sizeof(INPUT));
    };
    const auto caps_lock_on = [] { return (GetKeyState(VK_CAPITAL) & 1) != 0; };
    SetWindowTextW(lines, L"");
    toggle_caps_lock();
    EXPECT_TRUE(pump_until(caps_lock_on));
    input->send(InputEvent(input::Text{"Hello"}));
    EXPECT_TRUE(pump_until([&] { return edit_text(lines).size() >= 5; }));
    EXPECT_EQ(edit_text(lines), L"Hello");
    toggle_caps_lock();
    EXPECT_TRUE(pump_until([&] { return !caps_lock_on(); }));

    SetFocus(edit);

    // No synthetic pen here: a pen stroke below the edit control clicks.
    const int clicked_before = clicks;
    for (std::uint8_t phase : {0, 1, 2, 3})
        input->send(InputEvent(input::Pen{phase, 0.5f, 0.5f, 0.5f, 0, 0}));
    EXPECT_TRUE(pump_until([&] { return clicks > clicked_before; }));

    // A key left held is let go by a release of everything.
    const auto shift_down = [] { return (GetAsyncKeyState(VK_LSHIFT) & 0x8000) != 0; };
    input->send(key(true, 0x38));
    EXPECT_TRUE(pump_until(shift_down));
    input->end_session();
    EXPECT_TRUE(pump_until([&] { return !shift_down(); }));

    // The layout of the window in front: the prefix's US layout.
    const auto layout = read_keyboard_layout();
    ASSERT_TRUE(layout.has_value());
    EXPECT_EQ(layout->language, "en-US");
    EXPECT_FALSE(layout->name.empty());
    EXPECT_EQ(layout->keys.size(), 47u);
    EXPECT_EQ(layout->keys.at(0x00), (std::pair<std::string, std::string>{"a", "A"}));
    EXPECT_EQ(layout->keys.at(0x12), (std::pair<std::string, std::string>{"1", "!"}));
    EXPECT_EQ(layout->keys.at(0x2C), (std::pair<std::string, std::string>{"/", "?"}));

    input->close();
    input.reset();
    DestroyWindow(frame);
    UnregisterClassW(L"VorlixInputTest", GetModuleHandleW(nullptr));
}

}  // namespace
}  // namespace vorlix

namespace vorlix {
namespace {

TEST(InputInjection, TheCursorInFrontBecomesAPngOfItsSize) {
    auto source = make_windows_pointer_source(nullptr);
    SetCursor(LoadCursorW(nullptr, IDC_IBEAM));
    const auto pointer = source->read();
    ASSERT_TRUE(pointer.has_value());
    ASSERT_NE(pointer->handle, 0u);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(pointer->handle), &info));
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    const std::uint32_t height = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
    DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);

    const auto image = source->cursor_image(pointer->handle);
    ASSERT_TRUE(image.has_value());
    const auto png = cursor_png(*image);
    ASSERT_TRUE(png.has_value());
    ASSERT_GT(png->size(), 24u);
    EXPECT_EQ(get_u32_be(png->data() + 16), static_cast<std::uint32_t>(bitmap.bmWidth));  // IHDR width
    EXPECT_EQ(get_u32_be(png->data() + 20), height);
}

// A bitmap claiming a size no cursor has is not read.
TEST(InputInjection, ACursorLargerThanAnyCursorIsNotRead) {
    const std::vector<std::uint32_t> pixels(1100 * 4, 0xFF2040C0u);
    const std::vector<std::uint8_t> zeros(1104 / 16 * 2 * 4);
    HBITMAP colour = CreateBitmap(1100, 4, 1, 32, pixels.data());
    HBITMAP mask = CreateBitmap(1100, 4, 1, 1, zeros.data());
    ICONINFO info{FALSE, 1, 2, mask, colour};
    HICON icon = CreateIconIndirect(&info);
    ASSERT_TRUE(icon);
    EXPECT_FALSE(cursor_icon_to_rgba(reinterpret_cast<std::uintptr_t>(icon)).has_value());
    DestroyIcon(icon);
    DeleteObject(mask);
    DeleteObject(colour);
}

}  // namespace
}  // namespace vorlix
