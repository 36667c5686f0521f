#include "host/pairing_code.h"

#include <system_error>
#include <utility>

#include "util/bytes.h"
#include "util/file_io.h"

namespace vorlix {
namespace {

// 4,294,000,000 is a multiple of 1,000,000: below it every code is equally likely.
constexpr std::uint32_t kLargestUsable = 4'293'999'999u;

}  // namespace

PairingCode::PairingCode(Now now, RandomBytes4 random) : now_(std::move(now)), random_(std::move(random)) {}

std::string PairingCode::draw_code(const RandomBytes4& random) {
    std::uint32_t number;
    do {
        const std::array<std::uint8_t, 4> bytes = random();
        number = get_u32_be(bytes.data());
    } while (number > kLargestUsable);
    std::string code(6, '0');
    number %= 1'000'000;
    for (int i = 5; i >= 0; --i) {
        code[static_cast<std::size_t>(i)] = static_cast<char>('0' + number % 10);
        number /= 10;
    }
    return code;
}

void PairingCode::renumber() {
    ++code_number_;
    places_ = 0;
    busy_ = false;
}

bool PairingCode::open() {
    if (closed_until_ && now_() < *closed_until_) return false;
    closed_until_.reset();
    code_ = draw_code(random_);
    renumber();
    return true;
}

void PairingCode::close() {
    code_.reset();
    renumber();
}

PairingCode::WrongCode PairingCode::count_wrong_code(bool redraw) {
    ++wrong_codes_;
    busy_ = false;
    if (wrong_codes_ < kWrongCodeLimit) {
        if (code_ && redraw) {
            code_ = draw_code(random_);
            renumber();
        }
        return WrongCode::kCounted;
    }
    wrong_codes_ = 0;
    code_.reset();
    renumber();
    settled_ = code_number_;
    closed_until_ = now_() + kLockOut;
    return WrongCode::kLockedOut;
}

PairingCode::Place PairingCode::take_place(const std::string& code_at_hello, std::size_t limit) {
    if (!code_) return Place::kClosed;
    if (places_ >= limit) {
        busy_ = true;
        return Place::kBusy;
    }
    if (*code_ != code_at_hello) return Place::kChanged;
    ++places_;
    return Place::kTaken;
}

bool PairingCode::give_back_place(std::uint64_t number) {
    if (number != code_number_) return false;
    if (places_ != 0) --places_;
    return std::exchange(busy_, false);
}

std::optional<std::uint64_t> PairingCode::seconds_locked() const {
    if (!closed_until_) return std::nullopt;
    const Clock::time_point now = now_();
    if (now >= *closed_until_) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(*closed_until_ - now);
    return static_cast<std::uint64_t>(left.count()) + 1;
}

void CodeFile::set_path(std::optional<std::filesystem::path> path) {
    std::lock_guard lock(mutex_);
    path_ = std::move(path);
}

std::optional<std::filesystem::path> CodeFile::path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

void CodeFile::mirror(const std::optional<std::string>& code) {
    std::lock_guard lock(mutex_);
    if (!path_) return;
    if (code) {
        (void)write_whole_file(*path_, *code);
    } else {
        std::error_code ignored;
        std::filesystem::remove(*path_, ignored);
    }
}

}  // namespace vorlix
