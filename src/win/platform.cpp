#include "win/platform.h"

#include <windows.h>

#include "h264/encoder.h"
#include "host/log.h"
#include "sound/sound_capture.h"
#include "wire/input_message.h"
#include "win/camera/camera.h"
#include "win/dpapi.h"
#include "win/ink/ink_overlay_window.h"
#include "win/input/input_language.h"
#include "win/input/input_thread.h"
#include "win/input/keyboard_layout.h"
#include "win/levels/levels_thread.h"
#include "win/menus/menus_thread.h"
#include "win/pictures/screenshots.h"
#include "win/reach/reach_windows.h"
#include "win/stream/com_ref.h"
#include "win/stream/windows_stream.h"
#include "win/system/keep_awake.h"
#include "win/system/shell.h"
#include "win/system/system_info.h"
#include "win/watch/clipboard_watcher.h"
#include "win/watch/front_app.h"

namespace vorlix {

void deliver_event(EventSlot& slot, PlatformEvent event) {
    std::lock_guard lock(slot.mutex);
    if (slot.handler) (*slot.handler)(std::move(event));
}

WindowsPlatform::WindowsPlatform(DataFolder data_folder)
    : data_folder_(std::move(data_folder)), event_slot_(std::make_shared<EventSlot>()) {
    // Service threads, in their start order: input (with its own service),
    // the clipboard and front-app watcher, app menus and levels (with theirs),
    // keep-awake.
    input_ = start_input_thread(event_slot_);
    watcher_ = start_clipboard_watcher(event_slot_);
    menus_ = start_menus_thread(event_slot_, GetCurrentProcessId());
    watcher_set_menus_nudge(*watcher_, notify_front_app_change);  // a new app in front: scan its menus
    levels_ = start_levels_thread(event_slot_);
    keep_awake_ = start_keep_awake();
    // No stream yet; the pointer is drawn into the picture until told otherwise.
    streams_ = std::make_unique<WindowsStreams>(encoder_open, make_loopback_sound_source);
}

WindowsPlatform::~WindowsPlatform() {
    // Release in field order; the keep-awake thread lets the PC sleep as it
    // ends, and the request log writes its counts last.
    data_folder_ = {};
    event_slot_.reset();
    input_->close();
    input_.reset();
    streams_.reset();
    stop_clipboard_watcher(*watcher_);
    watcher_.reset();
    menus_.reset();
    levels_.reset();
    std::lock_guard lock(keep_awake_mutex_);
    keep_awake_.reset();
}

std::shared_ptr<WindowsPlatform> platform_new(DataFolder data_folder) {
    return std::make_shared<WindowsPlatform>(std::move(data_folder));
}

std::string WindowsPlatform::computer_name() { return read_computer_name(); }

std::string WindowsPlatform::computer_model() { return read_computer_model(); }

DataFolder WindowsPlatform::data_dir() { return data_folder_; }

Bytes WindowsPlatform::protect_data(ByteView plain) { return protect_identity(plain); }

std::optional<Bytes> WindowsPlatform::unprotect_data(ByteView stored) { return unprotect_identity(stored); }

void WindowsPlatform::advertise(const std::string& instance_name, std::uint16_t port,
                                const std::vector<std::pair<std::string, std::string>>& txt) {
    start_advertising(instance_name, computer_name(), port, txt);
}

void WindowsPlatform::set_event_handler(PlatformEventHandler handler) {
    auto fresh = handler ? std::make_shared<PlatformEventHandler>(std::move(handler)) : nullptr;
    std::shared_ptr<PlatformEventHandler> old;
    std::lock_guard lock(event_slot_->mutex);
    old = std::exchange(event_slot_->handler, std::move(fresh));
}

std::shared_ptr<StreamControl> WindowsPlatform::current_stream() { return streams_->slot().current(); }

void WindowsPlatform::start_stream(const StreamConfig& config, std::int64_t stream_number,
                                   std::shared_ptr<StreamOutput> output) {
    streams_->start_stream(config, stream_number, std::move(output));
}

void WindowsPlatform::stop_stream() { streams_->slot().stop_stream(); }

void WindowsPlatform::request_keyframe() { streams_->slot().request_keyframe(); }

void WindowsPlatform::set_stream_audio(bool on) { streams_->slot().set_stream_audio(on); }

void WindowsPlatform::send_input(InputEvent event) { input_->send(input::InputCommand{std::move(event)}); }

// The session's input ends here: what it still had queued is dropped, a Text
// it is typing stops, and everything held is let go.
void WindowsPlatform::reset_input() { input_->end_session(); }

void WindowsPlatform::set_clipboard_text(std::string text) { watcher_post_text(*watcher_, std::move(text)); }

void WindowsPlatform::set_clipboard_picture(Bytes png) { watcher_post_picture(*watcher_, std::move(png)); }

std::optional<FrontApp> WindowsPlatform::front_app_name() { return read_front_app(); }

void WindowsPlatform::set_session_active(bool active) {
    if (active) input_->send(input::ResetApplied{});
    watcher_set_active(*watcher_, active);
    send_menus_active(*menus_, active);
    send_levels_request(*levels_, {.kind = LevelsRequest::Kind::Active, .active = active});
}

bool WindowsPlatform::camera_ready() { return camera_service().ready(); }

CameraState WindowsPlatform::set_device_camera(bool on) { return camera_service().on_device_camera(on); }

void WindowsPlatform::push_camera_picture(CameraPicture picture) {
    camera_service().hand_picture(std::move(picture));
}

bool WindowsPlatform::supports_menus() { return true; }

void WindowsPlatform::perform_menu(std::uint64_t id) { send_menu_run(*menus_, id); }

std::optional<Levels> WindowsPlatform::read_levels() { return ask_levels(*levels_); }

void WindowsPlatform::set_level(const std::string& kind, double value) {
    send_level_set(*levels_, kind, value);
}

bool WindowsPlatform::open_url(const std::string& link) { return vorlix::open_url(link); }

std::filesystem::path WindowsPlatform::downloads_dir() { return downloads_folder(); }

bool WindowsPlatform::reveal_file(const std::filesystem::path& path) { return reveal_in_explorer(path); }

std::vector<std::filesystem::path> WindowsPlatform::screenshots_dir() { return find_screenshots_folder(); }

std::optional<Bytes> WindowsPlatform::take_screenshot() {
    ComApartment com;
    return make_screenshot_png();
}

std::optional<Bytes> WindowsPlatform::take_preview() {
    ComApartment com;
    return make_preview_jpeg();
}

MacAddressList WindowsPlatform::mac_addresses() { return list_mac_addresses(); }

bool WindowsPlatform::send_wake_packets(const WakeTargets& targets) { return send_wake_packets_by_udp(targets); }

void WindowsPlatform::set_pointer_on_device(std::uint32_t value) { streams_->slot().set_pointer_on_device(value); }

void WindowsPlatform::send_ink_event(const InkEvent& event) { send_ink_event_to_overlay(event); }

void WindowsPlatform::clear_ink_overlay() { send_ink_clear(); }

void WindowsPlatform::set_keep_awake(bool awake) {
    std::lock_guard lock(keep_awake_mutex_);
    if (keep_awake_) keep_awake_->send(awake);  // a thread that ended drops it
}

std::vector<IpAddress> WindowsPlatform::local_addresses() { return list_local_addresses(); }

bool WindowsPlatform::supports_keyboard_layout() { return true; }

std::optional<KeyboardLayout> WindowsPlatform::keyboard_layout() { return read_keyboard_layout(); }

void WindowsPlatform::next_input_language() { start_input_language_thread(input_); }

}  // namespace vorlix
