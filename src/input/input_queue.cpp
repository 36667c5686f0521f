#include "input/input_queue.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "host/log.h"

namespace vorlix::input {

namespace {

// How a command fares in a full queue: moves give way first, ordinary
// commands are refused, and what lets go of something always comes in.
enum class Weight { move, plain, lets_go };

// What a command that lets go of something lets go of: two equal ones in a
// queue that holds nothing else are one too many.
constexpr int RELEASE_ALL_ID = 0x10000, RESET_APPLIED_ID = 0x10001, PEN_LIFT_ID = 0x10002, BUTTON_ID = 0x10010;

std::optional<int> lets_go_of(const InputCommand& command) {
    if (std::holds_alternative<ReleaseAll>(command)) return RELEASE_ALL_ID;
    if (std::holds_alternative<ResetApplied>(command)) return RESET_APPLIED_ID;
    const auto* event = std::get_if<InputEvent>(&command);
    if (!event) return std::nullopt;
    if (const auto* key = std::get_if<Key>(&*event)) {
        // Codes that press nothing let go of nothing either.
        if (key->down || key->keyCode > 0x7E) return std::nullopt;
        return key->keyCode;
    }
    if (const auto* button = std::get_if<Button>(&*event)) {
        if (button->down) return std::nullopt;
        return BUTTON_ID + std::min<int>(button->button, 2);
    }
    if (const auto* pen = std::get_if<Pen>(&*event); pen && (pen->phase == 3 || pen->phase == 4)) return PEN_LIFT_ID;
    return std::nullopt;
}

Weight weight(const InputCommand& command) {
    if (lets_go_of(command)) return Weight::lets_go;
    const auto* event = std::get_if<InputEvent>(&command);
    if (!event) return Weight::plain;
    if (const auto* pen = std::get_if<Pen>(&*event)) return pen->phase == 1 ? Weight::plain : Weight::move;
    const bool moves = std::holds_alternative<MoveTo>(*event) || std::holds_alternative<MoveBy>(*event) ||
                       std::holds_alternative<Scroll>(*event) || std::holds_alternative<Magnify>(*event) ||
                       std::holds_alternative<IgnoredGesture>(*event);
    return moves ? Weight::move : Weight::plain;
}

// The characters of valid UTF-8 text: its bytes that start one.
std::size_t character_count(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

void InputQueue::send(InputCommand command) {
    if (const auto* event = std::get_if<InputEvent>(&command)) {
        if (const auto* text = std::get_if<Text>(&*event)) {
            if (const std::size_t count = character_count(text->text); count > MAX_TEXT_CHARACTERS) {
                log_line("input: a text of " + std::to_string(count) + " characters is not typed (the most is " +
                         std::to_string(MAX_TEXT_CHARACTERS) + ")");
                return;
            }
        }
    }
    std::optional<std::size_t> filled;  // the length the queue first filled at, said after the lock
    bool queued = false;
    {
        std::lock_guard lock(mutex_);
        if (!closed_) {
            const bool full = items_.size() >= limit_;
            if (full && !std::exchange(told_full_, true)) filled = items_.size();
            queued = !full || make_room(command);
            if (queued) items_.push_back(QueuedCommand{std::move(command), session_.load()});
        }
    }
    if (filled) log_line("input: " + std::to_string(*filled) + " commands waiting; pointer moves give way");
    if (queued) ready_.notify_one();
}

bool InputQueue::make_room(const InputCommand& command) {
    const auto drop_first = [&](Weight w) {
        const auto found =
            std::find_if(items_.begin(), items_.end(), [&](const QueuedCommand& q) { return weight(q.command) == w; });
        if (found == items_.end()) return false;
        items_.erase(found);
        return true;
    };
    if (drop_first(Weight::move)) return true;
    const std::optional<int> releases = lets_go_of(command);
    if (!releases) return false;
    if (drop_first(Weight::plain)) return true;
    // Only commands that let go are queued, and no key is pressed among them:
    // one equal to this one already lets go of the same.
    return std::none_of(items_.begin(), items_.end(),
                        [&](const QueuedCommand& q) { return lets_go_of(q.command) == releases; });
}

void InputQueue::end_session() {
    {
        std::lock_guard lock(mutex_);
        const std::uint64_t next = session_.load() + 1;
        session_.store(next);
        items_.clear();
        told_full_ = false;
        if (closed_) return;
        items_.push_back(QueuedCommand{ReleaseAll{}, next});
    }
    ready_.notify_one();
}

std::optional<QueuedCommand> InputQueue::take() {
    if (items_.empty()) return std::nullopt;
    QueuedCommand item = std::move(items_.front());
    items_.pop_front();
    if (items_.empty()) told_full_ = false;
    return item;
}

std::optional<QueuedCommand> InputQueue::receive() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !items_.empty() || closed_; });
    return take();
}

std::optional<QueuedCommand> InputQueue::receive_for(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, wait, [&] { return !items_.empty() || closed_; });
    return take();
}

void InputQueue::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

std::size_t InputQueue::size() {
    std::lock_guard lock(mutex_);
    return items_.size();
}

void run_input_loop(InputQueue& queue, InputSystem& system, bool pen_to_mouse, PointerReport report) {
    InputInjector injector(system, pen_to_mouse, std::move(report));
    for (;;) {
        std::optional<QueuedCommand> item;
        if (injector.report_due()) {
            item = queue.receive_for(std::chrono::milliseconds(40));
            if (!item) {
                injector.report_pointer_position();
                continue;
            }
        } else {
            item = queue.receive();
            if (!item) break;
        }
        const std::uint64_t session = item->session;
        if (session != queue.session()) continue;  // its session ended while it waited
        injector.apply(item->command, [&queue, session] { return queue.session() != session; });
    }
}

}  // namespace vorlix::input
