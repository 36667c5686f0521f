#include "reach/dns_sd.h"

#include "app/text.h"
#include "host/log.h"

namespace vorlix {

namespace {

constexpr std::string_view kServiceSuffix = "._vorlix._tcp.local";

bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

std::string cut_instance_name(std::string_view name) {
    if (name.size() <= kInstanceNameBytes) return std::string(name);
    std::size_t end = kInstanceNameBytes;
    // Never end inside a character: step back to the start of the one that
    // would be cut.
    while (end > 0 && is_continuation(name[end])) --end;
    return std::string(name.substr(0, end));
}

TxtStrings collect_txt_strings(const TxtPairs& pairs) {
    TxtStrings strings;
    for (const auto& [key, value] : pairs) {
        strings.keys.push_back(utf8_to_utf16(key));
        strings.values.push_back(utf8_to_utf16(value));
    }
    return strings;
}

Announcement make_announcement(std::string_view name, std::string_view computer_name, std::uint16_t port,
                               const TxtPairs& pairs) {
    Announcement announcement;
    announcement.name = cut_instance_name(name);
    announcement.instance_name = utf8_to_utf16(announcement.name + std::string(kServiceSuffix));
    announcement.host_name = utf8_to_utf16(std::string(computer_name) + ".local");
    announcement.port = port;
    announcement.txt = collect_txt_strings(pairs);
    return announcement;
}

std::string registration_finished_text(std::uint32_t status) {
    if (status == 0) return "Bonjour: advertised";
    return "Bonjour: registration finished with status " + std::to_string(status);
}

void Advertiser::start(std::string_view name, std::string_view computer_name, std::uint16_t port,
                       const TxtPairs& pairs) {
    const Announcement announcement = make_announcement(name, computer_name, port, pairs);
    std::lock_guard lock(mutex_);
    withdraw_locked();
    const DnsSdSystem::Outcome outcome = system_->register_service(announcement);
    switch (outcome.kind) {
    case DnsSdSystem::Outcome::Kind::Unavailable:
        log_line("Bonjour: DnsServiceConstructInstance failed (Windows 10 1809 or later is needed)");
        break;
    case DnsSdSystem::Outcome::Kind::Refused:
        log_line("Bonjour: DnsServiceRegister returned " + std::to_string(outcome.code));
        break;
    case DnsSdSystem::Outcome::Kind::Pending:
        log_line("Bonjour: registering " + announcement.name + "._vorlix._tcp on port " + std::to_string(port));
        current_ = outcome.handle;
        break;
    }
}

void Advertiser::stop() {
    std::lock_guard lock(mutex_);
    withdraw_locked();
}

bool Advertiser::registered() const {
    std::lock_guard lock(mutex_);
    return current_.has_value();
}

void Advertiser::withdraw_locked() {
    if (!current_) return;
    const DnsSdSystem::Handle handle = *current_;
    current_.reset();
    system_->withdraw(handle);
}

}  // namespace vorlix
