// An unbounded multi-producer, single-consumer queue. Senders never block;
// the receiver blocks until an item arrives or every sender is gone. A send
// fails once the receiver has been released, and gives the item back.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace vorlix {

namespace channel_detail {

template <typename T>
struct Shared {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<T> items;
    std::size_t senders = 0;
    bool receiver_alive = true;
};

}  // namespace channel_detail

template <typename T>
class Sender {
public:
    Sender() = default;
    explicit Sender(std::shared_ptr<channel_detail::Shared<T>> shared) : shared_(std::move(shared)) { attach(); }
    Sender(const Sender& other) : shared_(other.shared_) { attach(); }
    Sender(Sender&& other) noexcept : shared_(std::move(other.shared_)) {}
    Sender& operator=(const Sender& other) {
        if (this != &other) {
            detach();
            shared_ = other.shared_;
            attach();
        }
        return *this;
    }
    Sender& operator=(Sender&& other) noexcept {
        if (this != &other) {
            detach();
            shared_ = std::move(other.shared_);
        }
        return *this;
    }
    ~Sender() { detach(); }

    bool valid() const { return shared_ != nullptr; }

    // Queues the item; when the receiver is gone, gives it back instead.
    std::optional<T> send(T item) {
        if (!shared_) return std::optional<T>(std::move(item));
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            if (!shared_->receiver_alive) return std::optional<T>(std::move(item));
            shared_->items.push_back(std::move(item));
        }
        shared_->ready.notify_one();
        return std::nullopt;
    }

    void reset() { detach(); }

private:
    void attach() {
        if (!shared_) return;
        std::lock_guard<std::mutex> lock(shared_->mutex);
        ++shared_->senders;
    }
    void detach() {
        if (!shared_) return;
        bool last;
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            last = --shared_->senders == 0;
        }
        if (last) shared_->ready.notify_all();
        shared_.reset();
    }

    std::shared_ptr<channel_detail::Shared<T>> shared_;
};

template <typename T>
class Receiver {
public:
    Receiver() = default;
    explicit Receiver(std::shared_ptr<channel_detail::Shared<T>> shared) : shared_(std::move(shared)) {}
    Receiver(Receiver&&) noexcept = default;
    Receiver& operator=(Receiver&& other) noexcept {
        if (this != &other) {
            close();
            shared_ = std::move(other.shared_);
        }
        return *this;
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() { close(); }

    // Waits for the next item; nothing once the queue is empty and every
    // sender is gone.
    std::optional<T> receive() {
        std::unique_lock<std::mutex> lock(shared_->mutex);
        shared_->ready.wait(lock, [&] { return !shared_->items.empty() || shared_->senders == 0; });
        return take(lock);
    }

    // As receive, waiting at most `timeout`.
    template <typename Rep, typename Period>
    std::optional<T> receive_for(std::chrono::duration<Rep, Period> timeout) {
        std::unique_lock<std::mutex> lock(shared_->mutex);
        shared_->ready.wait_for(lock, timeout, [&] { return !shared_->items.empty() || shared_->senders == 0; });
        return take(lock);
    }

    // Takes an item if one is waiting.
    std::optional<T> try_receive() {
        std::unique_lock<std::mutex> lock(shared_->mutex);
        return take(lock);
    }

    // True once nothing is queued and every sender is gone.
    bool finished() {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        return shared_->items.empty() && shared_->senders == 0;
    }

    // Refuses further sends and hands back what is still queued.
    std::deque<T> close() {
        std::deque<T> left;
        if (!shared_) return left;
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            shared_->receiver_alive = false;
            left.swap(shared_->items);
        }
        shared_.reset();
        return left;
    }

private:
    std::optional<T> take(std::unique_lock<std::mutex>&) {
        if (shared_->items.empty()) return std::nullopt;
        T item = std::move(shared_->items.front());
        shared_->items.pop_front();
        return item;
    }

    std::shared_ptr<channel_detail::Shared<T>> shared_;
};

template <typename T>
std::pair<Sender<T>, Receiver<T>> make_channel() {
    auto shared = std::make_shared<channel_detail::Shared<T>>();
    return {Sender<T>(shared), Receiver<T>(shared)};
}

}  // namespace vorlix
