// WindowsPlatform: the Platform interface on Windows. Building it starts the
// platform's service threads; releasing it closes their queues.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "host/channel.h"
#include "host/platform.h"
#include "host/session_log.h"
#include "input/input_queue.h"

namespace vorlix {

class WindowsStreams;
struct ClipboardWatcher;
struct MenusSender;
struct LevelsSender;

// The one handler slot shared by every producer of platform events.
struct EventSlot {
    std::mutex mutex;
    std::shared_ptr<PlatformEventHandler> handler;
};

// Hands one event to the installed handler, holding the slot's lock while
// the handler runs (so events never overlap); without a handler the event is
// dropped.
void deliver_event(EventSlot& slot, PlatformEvent event);

class WindowsPlatform final : public Platform {
public:
    explicit WindowsPlatform(DataFolder data_folder);
    ~WindowsPlatform() override;

    std::string computer_name() override;
    std::string computer_model() override;
    DataFolder data_dir() override;
    Bytes protect_data(ByteView plain) override;
    std::optional<Bytes> unprotect_data(ByteView stored) override;
    void advertise(const std::string& instance_name, std::uint16_t port,
                   const std::vector<std::pair<std::string, std::string>>& txt) override;
    void set_event_handler(PlatformEventHandler handler) override;
    void start_stream(const StreamConfig& config, std::int64_t stream_number,
                      std::shared_ptr<StreamOutput> output) override;
    void stop_stream() override;
    void request_keyframe() override;
    void set_stream_audio(bool on) override;
    void send_input(InputEvent event) override;
    void reset_input() override;
    void set_clipboard_text(std::string text) override;
    void set_clipboard_picture(Bytes png) override;
    std::optional<FrontApp> front_app_name() override;
    void set_session_active(bool active) override;
    bool camera_ready() override;
    CameraState set_device_camera(bool on) override;
    void push_camera_picture(CameraPicture picture) override;
    bool supports_menus() override;
    void perform_menu(std::uint64_t id) override;
    std::optional<Levels> read_levels() override;
    void set_level(const std::string& kind, double value) override;
    bool open_url(const std::string& link) override;
    std::filesystem::path downloads_dir() override;
    bool reveal_file(const std::filesystem::path& path) override;
    std::vector<std::filesystem::path> screenshots_dir() override;
    std::optional<Bytes> take_screenshot() override;
    std::optional<Bytes> take_preview() override;
    MacAddressList mac_addresses() override;
    bool send_wake_packets(const WakeTargets& targets) override;
    void set_pointer_on_device(std::uint32_t value) override;
    void send_ink_event(const InkEvent& event) override;
    void clear_ink_overlay() override;
    void set_keep_awake(bool awake) override;
    std::vector<IpAddress> local_addresses() override;
    bool supports_keyboard_layout() override;
    std::optional<KeyboardLayout> keyboard_layout() override;
    void next_input_language() override;

    // The shared slot, for the service threads that produce events.
    const std::shared_ptr<EventSlot>& event_slot() const { return event_slot_; }
    // The clipboard and front-app watcher.
    const std::shared_ptr<ClipboardWatcher>& watcher() const { return watcher_; }
    // The current stream's control block, if a stream was started.
    std::shared_ptr<StreamControl> current_stream();

private:
    // The lines the service threads make for the devices' requests, counted
    // past a rate. Made first and let go last, once the threads are stopped:
    // its counts are written then.
    RequestLog request_log_;
    // Released in this order: data folder first, keep-awake last.
    DataFolder data_folder_;
    std::shared_ptr<EventSlot> event_slot_;
    // The input thread's queue; the thread ends when it is closed.
    std::shared_ptr<input::InputQueue> input_;
    // The current stream and the pointer setting every stream shares; its
    // release stops the current stream and waits for its thread.
    std::unique_ptr<WindowsStreams> streams_;
    std::shared_ptr<ClipboardWatcher> watcher_;
    // The menus and levels threads end when these go.
    std::shared_ptr<MenusSender> menus_;
    std::shared_ptr<LevelsSender> levels_;
    std::mutex keep_awake_mutex_;
    std::optional<Sender<bool>> keep_awake_;
};

// Builds the platform for the data folder and starts its service threads.
std::shared_ptr<WindowsPlatform> platform_new(DataFolder data_folder);

}  // namespace vorlix
