// The six-digit pairing code: opening and closing pairing, fresh codes after a
// wrong one, the 60 s lock-out after five wrong codes, and the code file that
// mirrors the code for other programs.
//
// PairingCode holds the code, the wrong-code count, the lock-out instant and
// the pairing places; the host state owns one and calls it under its main lock.
//
// Each code drawn, and each close, gets a number of its own. A pairing place
// belongs to the code it was taken under: places of an earlier code never
// block a later one, and one revealed or let go once its code is gone counts
// as a wrong code, however the code was replaced (a wrong code, a second
// open, the stop button), unless a device signed in or pairing locked since.
// CodeFile holds the `--code-file` path behind its own lock; the host state
// calls `mirror` after releasing the main lock, whenever the code may have
// changed.
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

    // Opens pairing with a fresh code (replacing an open one); false, with no
    // code made, while pairing is locked after five wrong codes.
    bool open();
    // Drops the code.
    void close();

    enum class WrongCode {
        kCounted,    // below the limit; an open code was replaced by a fresh one
        kLockedOut,  // the fifth: the code is gone and pairing is locked for 60 s
    };
    // Counts one wrong code; `redraw` false for a guess at a code no longer
    // open, which tested nothing of the code shown now and leaves it.
    WrongCode count_wrong_code(bool redraw = true);
    // A device signed in: the count starts again, and places taken until now
    // count nothing more.
    void reset_wrong_codes() {
        wrong_codes_ = 0;
        settled_ = code_number_;
    }
    enum class Place {
        kTaken,    // under the code now open, numbered `code_number()`
        kBusy,     // every place is taken: the window says a pairing was turned away
        kChanged,  // the code the commit's Hello saw is no longer the one open
        kClosed,   // pairing is closed
    };
    // A commit asks for one of `limit` places of the code open; it takes one
    // only under the code its Hello saw. The places are looked at before the
    // code, so that a refusal never tells whether the code changed. Whether a
    // place was free and the window's word on it are decided together, so
    // that the word never stays with a place free.
    Place take_place(const std::string& code_at_hello, std::size_t limit);
    // The place taken under code `number` is let go; answers whether the
    // window said a pairing was turned away (it no longer does).
    bool give_back_place(std::uint64_t number);
    // The number of the code open (or of the close).
    std::uint64_t code_number() const { return code_number_; }
    // Whether a place taken under code `number` that is no longer the one
    // open still counts as a wrong code: no device signed in and pairing did
    // not lock since it was taken.
    bool counts_stale(std::uint64_t number) const { return number != code_number_ && number > settled_; }
    // The places taken under the code open.
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
    // Gives the code a new number: the places of the one before are not its.
    void renumber();

    std::uint32_t wrong_codes_ = 0;
    std::uint64_t code_number_ = 0;
    std::uint64_t settled_ = 0;  // places of codes up to this number count nothing
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
