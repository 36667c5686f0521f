// Announcing the listener on the local network with DNS-SD: the service
// "_vorlix._tcp" in "local", one registration per process at a time. The
// texts are formed here; the system's registration calls sit behind
// DnsSdSystem so that the slot's rules hold on every system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlix {

using TxtPairs = std::vector<std::pair<std::string, std::string>>;

// A DNS label holds at most 63 bytes.
constexpr std::size_t kInstanceNameBytes = 63;

// The host's name cut to the longest run of whole UTF-8 characters that fits
// in 63 bytes (a name that fits stays as it is).
std::string cut_instance_name(std::string_view name);

// The TXT keys, and their values, as UTF-16 texts in pair order.
struct TxtStrings {
    std::vector<std::u16string> keys;
    std::vector<std::u16string> values;
};
TxtStrings collect_txt_strings(const TxtPairs& pairs);

// Everything one registration is made of.
struct Announcement {
    std::string name;               // the cut name, as the log shows it
    std::u16string instance_name;   // name + "._vorlix._tcp.local"
    std::u16string host_name;       // computer name + ".local"
    std::uint16_t port = 0;
    TxtStrings txt;
};
Announcement make_announcement(std::string_view name, std::string_view computer_name, std::uint16_t port,
                               const TxtPairs& pairs);

// The log line of a registration's completion.
std::string registration_finished_text(std::uint32_t status);

// The system's DNS-SD calls.
class DnsSdSystem {
public:
    using Handle = std::uintptr_t;
    struct Outcome {
        enum class Kind { Unavailable, Refused, Pending };
        Kind kind = Kind::Unavailable;
        std::uint32_t code = 0;  // the system's answer when refused
        Handle handle = 0;       // the live registration when pending
    };
    virtual ~DnsSdSystem() = default;
    // Registers the announcement. A refused one leaves nothing behind.
    virtual Outcome register_service(const Announcement& announcement) = 0;
    // Withdraws a pending registration; its memory lives until the system
    // says the withdrawal is done.
    virtual void withdraw(Handle handle) = 0;
};

// The registration slot: at most one live registration, replaced whole
// under one lock.
class Advertiser {
public:
    explicit Advertiser(std::shared_ptr<DnsSdSystem> system) : system_(std::move(system)) {}

    // Withdraws the current registration, then registers the new one.
    void start(std::string_view name, std::string_view computer_name, std::uint16_t port, const TxtPairs& pairs);
    // Withdraws the current registration, if any.
    void stop();

    bool registered() const;

private:
    void withdraw_locked();

    std::shared_ptr<DnsSdSystem> system_;
    mutable std::mutex mutex_;
    std::optional<DnsSdSystem::Handle> current_;
};

}  // namespace vorlix
