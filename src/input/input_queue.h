// The queue of the input thread. It is bounded, and it knows sessions: when
// a session ends, its generation moves on, whatever it still had queued is
// dropped and ReleaseAll takes its place, so that nothing the device sent
// outlives it (a Text being typed stops at its next character).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "input/injector.h"

namespace vorlix::input {

// Commands waiting at most before pointer moves give way: two seconds of a
// device's moves at 120 a second, far more than the thread lags behind
// anything but a long Text.
constexpr std::size_t MAX_QUEUED_INPUT = 256;

// The longest Text typed, in characters: a long dictated paragraph, about
// half a minute of typing at 4 ms a character.
constexpr std::size_t MAX_TEXT_CHARACTERS = 8000;

struct QueuedCommand {
    InputCommand command;
    std::uint64_t session = 0;  // the generation it was queued under
};

class InputQueue {
public:
    explicit InputQueue(std::size_t limit = MAX_QUEUED_INPUT) : limit_(limit) {}
    InputQueue(const InputQueue&) = delete;
    InputQueue& operator=(const InputQueue&) = delete;

    // Queues a command of the current session; a closed queue drops it, and
    // a Text of more than MAX_TEXT_CHARACTERS is refused with a log line.
    // When full, the oldest pointer move makes room; without one, only
    // key-ups, button-ups, pen lifts and the thread's own commands still
    // come in (each once).
    void send(InputCommand command);

    // The session ended (or another signed in): the generation moves on,
    // everything queued goes, and ReleaseAll is queued.
    void end_session();

    // The current generation; a command queued under an older one belongs to
    // a session that has ended.
    std::uint64_t session() const { return session_.load(); }

    // The next command; none once closed and empty (or, for receive_for,
    // after the wait).
    std::optional<QueuedCommand> receive();
    std::optional<QueuedCommand> receive_for(std::chrono::milliseconds wait);

    // Ends the thread: nothing more is queued, what is queued is still given.
    void close();

    std::size_t size();

private:
    std::optional<QueuedCommand> take();
    // Makes room for `command` in a full queue; false when it is dropped.
    bool make_room(const InputCommand& command);

    const std::size_t limit_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<QueuedCommand> items_;
    std::atomic<std::uint64_t> session_{0};
    bool closed_ = false;
    bool told_full_ = false;
};

// The body of "vorlix-input": feeds the queue's commands to an injector until
// the queue is closed, skipping those of ended sessions, and sends an owed
// pointer report 40 ms after the last command.
void run_input_loop(InputQueue& queue, InputSystem& system, bool pen_to_mouse, PointerReport report);

}  // namespace vorlix::input
