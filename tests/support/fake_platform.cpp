#include "support/fake_platform.h"

#include <algorithm>
#include <cstdio>

namespace vorlix {

void FakePlatform::set_answers(const Answers& answers) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_ = answers;
}

FakePlatform::Answers FakePlatform::answers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return answers_;
}

void FakePlatform::record(std::string operation, std::string detail) {
    if (const auto hook = answers().on_call) hook(operation);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back({std::move(operation), std::move(detail)});
    }
    changed_.notify_all();
}

std::vector<FakePlatform::Call> FakePlatform::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<std::string> FakePlatform::operations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& call : calls_) out.push_back(call.operation);
    return out;
}

std::size_t FakePlatform::count(const std::string& operation) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(std::count_if(calls_.begin(), calls_.end(),
                                                  [&](const Call& call) { return call.operation == operation; }));
}

bool FakePlatform::wait_for(const std::string& operation, std::size_t times, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return static_cast<std::size_t>(std::count_if(calls_.begin(), calls_.end(), [&](const Call& call) {
                   return call.operation == operation;
               })) >= times;
    });
}

void FakePlatform::clear_calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

std::vector<InputEvent> FakePlatform::inputs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return inputs_;
}

std::vector<CameraPicture> FakePlatform::camera_pictures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pictures_;
}

void FakePlatform::deliver(PlatformEvent event) {
    std::lock_guard<std::mutex> lock(handler_mutex_);
    if (handler_) handler_(std::move(event));
}

bool FakePlatform::has_event_handler() const {
    std::lock_guard<std::mutex> lock(handler_mutex_);
    return static_cast<bool>(handler_);
}

std::string FakePlatform::computer_name() {
    record("computer_name");
    return answers().name;
}

std::string FakePlatform::computer_model() {
    record("computer_model");
    return answers().model;
}

DataFolder FakePlatform::data_dir() {
    record("data_dir");
    return answers().data_folder;
}

Bytes FakePlatform::protect_data(ByteView plain) {
    record("protect_data");
    Bytes out = to_bytes("fake-protected:");
    append(out, plain);
    return out;
}

std::optional<Bytes> FakePlatform::unprotect_data(ByteView stored) {
    record("unprotect_data");
    static const std::string marker = "fake-protected:";
    if (stored.size() >= marker.size() && to_string(stored.subspan(0, marker.size())) == marker) {
        return Bytes(stored.begin() + static_cast<std::ptrdiff_t>(marker.size()), stored.end());
    }
    if (stored.size() == 32) return Bytes(stored.begin(), stored.end());
    return std::nullopt;
}

void FakePlatform::advertise(const std::string& instance_name, std::uint16_t port,
                             const std::vector<std::pair<std::string, std::string>>& txt) {
    std::string detail = instance_name + " " + std::to_string(port);
    for (const auto& [key, value] : txt) detail += " " + key + "=" + value;
    record("advertise", detail);
}

void FakePlatform::set_event_handler(PlatformEventHandler handler) {
    {
        std::lock_guard<std::mutex> lock(handler_mutex_);
        handler_ = std::move(handler);
    }
    record("set_event_handler");
}

void FakePlatform::start_stream(const StreamConfig& config, std::int64_t stream_number,
                                std::shared_ptr<StreamOutput> output) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        streams_.push_back(StartedStream{config, stream_number, std::move(output)});
    }
    record("start_stream", std::to_string(stream_number));
}

std::vector<FakePlatform::StartedStream> FakePlatform::started_streams() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return streams_;
}

void FakePlatform::stop_stream() { record("stop_stream"); }
void FakePlatform::request_keyframe() { record("request_keyframe"); }
void FakePlatform::set_stream_audio(bool on) { record("set_stream_audio", on ? "true" : "false"); }

void FakePlatform::send_input(InputEvent event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        inputs_.push_back(std::move(event));
    }
    record("send_input");
}

void FakePlatform::reset_input() { record("reset_input"); }
void FakePlatform::set_clipboard_text(std::string text) { record("set_clipboard_text", text); }
void FakePlatform::set_clipboard_picture(Bytes png) { record("set_clipboard_picture", std::to_string(png.size())); }

std::optional<FrontApp> FakePlatform::front_app_name() {
    record("front_app_name");
    return answers().front_app;
}

void FakePlatform::set_session_active(bool active) { record("set_session_active", active ? "true" : "false"); }

bool FakePlatform::camera_ready() {
    record("camera_ready");
    return answers().camera_ready;
}

CameraState FakePlatform::set_device_camera(bool on) {
    record("set_device_camera", on ? "true" : "false");
    return answers().camera_state;
}

void FakePlatform::push_camera_picture(CameraPicture picture) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pictures_.push_back(std::move(picture));
    }
    record("push_camera_picture");
}

bool FakePlatform::supports_menus() {
    record("supports_menus");
    return answers().menus;
}

void FakePlatform::perform_menu(std::uint64_t id) { record("perform_menu", std::to_string(id)); }

std::optional<Levels> FakePlatform::read_levels() {
    record("read_levels");
    return answers().levels;
}

void FakePlatform::set_level(const std::string& kind, double value) {
    record("set_level", kind + " " + std::to_string(value));
}

bool FakePlatform::open_url(const std::string& link) {
    record("open_url", link);
    return answers().open_url;
}

std::filesystem::path FakePlatform::downloads_dir() {
    record("downloads_dir");
    return answers().downloads;
}

bool FakePlatform::reveal_file(const std::filesystem::path& path) {
    record("reveal_file", path.string());
    return true;
}

std::vector<std::filesystem::path> FakePlatform::screenshots_dir() {
    record("screenshots_dir");
    return answers().screenshot_folders;
}

std::optional<Bytes> FakePlatform::take_screenshot() {
    record("take_screenshot");
    const Answers now = answers();
    if (now.while_taking_screenshot) now.while_taking_screenshot();
    return now.screenshot;
}

std::optional<Bytes> FakePlatform::take_preview() {
    record("take_preview");
    return answers().preview;
}

MacAddressList FakePlatform::mac_addresses() {
    record("mac_addresses");
    return answers().macs;
}

bool FakePlatform::send_wake_packets(const WakeTargets& targets) {
    record("send_wake_packets", std::to_string(targets.mac_addresses.size()) + " " +
                                    std::to_string(targets.addresses.size()));
    return answers().wake_sent;
}

void FakePlatform::set_pointer_on_device(std::uint32_t value) { record("set_pointer_on_device", std::to_string(value)); }
void FakePlatform::send_ink_event(const InkEvent& event) {
    // The author and the points: "Pad 1: 0.5 0 1 0.25".
    std::string detail = event.author.value_or("") + ":";
    char number[32];
    for (const double n : event.points) {
        std::snprintf(number, sizeof number, " %g", n);
        detail += number;
    }
    record("send_ink_event", std::move(detail));
}
void FakePlatform::clear_ink_overlay() { record("clear_ink_overlay"); }
void FakePlatform::set_keep_awake(bool awake) { record("set_keep_awake", awake ? "true" : "false"); }

std::vector<IpAddress> FakePlatform::local_addresses() {
    record("local_addresses");
    return answers().local_addresses;
}

bool FakePlatform::supports_keyboard_layout() {
    record("supports_keyboard_layout");
    return answers().keyboard_layout;
}

std::optional<KeyboardLayout> FakePlatform::keyboard_layout() {
    record("keyboard_layout");
    return answers().layout;
}

void FakePlatform::next_input_language() { record("next_input_language"); }

KeyboardLayout us_keyboard_layout() {
    KeyboardLayout us;
    us.name = "US";
    us.language = "en-US";
    us.keys[0] = {"a", "A"};
    return us;
}

}  // namespace vorlix
