// The six-digit pairing code: opening and closing pairing, fresh codes after a
// wrong one, the 60 s lock-out after five wrong codes, and the code file that
// mirrors the code for other programs.
//
// PairingCode holds the code, the wrong-code count, the lock-out instant and
// the pairing places; the host state owns one and calls it under its main lock.
//
// An opening of pairing lasts from an open while pairing is closed to the
// next close (the stop button, a successful pairing, a lock-out); codes drawn
// in between, after a wrong code or a second open, stay within it. CodeFile holds the
// `--code-file` path behind its own lock; the host state calls `mirror` after
// releasing the main lock, whenever the code may have changed.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace vorlix {

class PairingCode {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;
    // Four bytes from the system's random source (which stops the host when
    // it has none).
    using RandomBytes4 = std::function<std::array<std::uint8_t, 4>()>;

    static constexpr std::uint32_t kWrongCodeLimit = 5;
    static constexpr std::chrono::seconds kLockOut{60};

    PairingCode(Now now, RandomBytes4 random);

    // Opens pairing with a fresh code (replacing an open one, within the same
    // opening); false, with no code made, while pairing is locked after five
    // wrong codes.
    bool open();
    // Drops the code.
    void close();

    enum class WrongCode {
        kCounted,    // below the limit; an open code was replaced by a fresh one
        kLockedOut,  // the fifth: the code is gone and pairing is locked for 60 s
    };
    // Counts one wrong code.
    WrongCode count_wrong_code();
    // A device signed in: the count starts again.
    void reset_wrong_codes() { wrong_codes_ = 0; }
    enum class Place {
        kTaken,    // within the opening now current
        kBusy,     // every place is taken: the window says a pairing was turned away
        kChanged,  // the code the commit's Hello saw is no longer the one open
        kClosed,   // pairing is closed
    };
    // A commit asks for one of `limit` places; it takes one only under the code
    // its Hello saw. Whether a place was free and the window's word on it are
    // decided together, so that the word never stays with a place free.
    Place take_place(const std::string& code_at_hello, std::size_t limit);
    // A place is let go; answers whether the window said a pairing was
    // turned away (it no longer does).
    bool give_back_place();
    // Whether `opening` is the opening now current (pairing open since).
    bool in_opening(std::uint64_t opening) const { return code_ && opening == opening_; }
    std::uint64_t opening() const { return opening_; }
    std::size_t places() const { return places_; }
    // A pairing was turned away while the code was open because every
    // place was taken; said until a place is free again or the code changes.
    bool busy() const { return busy_; }

    const std::optional<std::string>& code() const { return code_; }
    std::uint32_t wrong_codes() const { return wrong_codes_; }
    // The whole seconds left of the lock-out plus one; nothing when there is
    // no lock-out or it has passed.
    std::optional<std::uint64_t> seconds_locked() const;

    // A code drawn by the rule: four random bytes read big-endian, drawn again
    // while above 4,293,999,999, then modulo 1,000,000 as six digits.
    static std::string draw_code(const RandomBytes4& random);

private:
    Now now_;
    RandomBytes4 random_;
    std::optional<std::string> code_;
    std::optional<Clock::time_point> closed_until_;
    std::uint32_t wrong_codes_ = 0;
    std::uint64_t opening_ = 0;
    std::size_t places_ = 0;
    bool busy_ = false;
};

// The `--code-file` mirror of the pairing code. Thread-safe.
class CodeFile {
public:
    // Stores the path, replacing an earlier one; nothing stops the mirroring.
    void set_path(std::optional<std::filesystem::path> path);
    std::optional<std::filesystem::path> path() const;

    // Writes the code's six characters to the file (no line end), or removes
    // the file when no code is open. Failures are ignored.
    void mirror(const std::optional<std::string>& code);

private:
    mutable std::mutex mutex_;
    std::optional<std::filesystem::path> path_;
};

}  // namespace vorlix
