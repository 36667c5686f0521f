#include "recovery/recovery.h"

#include <algorithm>
#include <limits>

#include "host/log.h"

namespace vorlix {
namespace {

using std::chrono::milliseconds;

std::string fill(std::string_view template_text, std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < template_text.size(); ++i) {
        if (template_text.compare(i, 2, "{}") == 0) {
            out += value;
            ++i;
        } else {
            out += template_text[i];
        }
    }
    return out;
}

}  // namespace

std::optional<PictureStopReason> picture_stop_reason_from_code(std::uint8_t code) {
    if (code > reason_code(PictureStopReason::stoppedOnComputer)) return std::nullopt;
    return static_cast<PictureStopReason>(code);
}

std::string_view picture_stop_reason_name(PictureStopReason reason) {
    switch (reason) {
    case PictureStopReason::screenLocked: return "screenLocked";
    case PictureStopReason::secureDesktop: return "secureDesktop";
    case PictureStopReason::displayUnavailable: return "displayUnavailable";
    case PictureStopReason::captureFailed: return "captureFailed";
    case PictureStopReason::encoderFailed: return "encoderFailed";
    case PictureStopReason::stoppedOnComputer: return "stoppedOnComputer";
    }
    return "unknown";
}

std::string picture_stopped_text(PictureStopReason reason) {
    switch (reason) {
    case PictureStopReason::screenLocked:
        return fill("The picture stopped: this {} is locked. Unlock it at the {} to continue.", "PC");
    case PictureStopReason::secureDesktop:
        return fill("The picture stopped: this {} is showing a secure screen, such as a User "
                    "Account Control prompt. Answer it at the {} to continue.",
                    "PC");
    case PictureStopReason::displayUnavailable:
        return fill("The picture stopped: this {}'s displays are changing. VorLix is trying again.",
                    "PC");
    case PictureStopReason::captureFailed:
        return fill("The picture stopped: {} ended the screen capture. VorLix is trying again.",
                    "Windows");
    case PictureStopReason::encoderFailed:
        return fill("The picture stopped: this {}'s video encoder failed. VorLix is trying again.",
                    "PC");
    case PictureStopReason::stoppedOnComputer:
        return fill("The picture stopped: screen sharing was stopped on this {}. Connect again to "
                    "share it.",
                    "PC");
    }
    return {};
}

Duration picture_stop_base_delay(PictureStopReason reason) {
    switch (reason) {
    case PictureStopReason::screenLocked:
    case PictureStopReason::secureDesktop:
    case PictureStopReason::encoderFailed:
        return milliseconds(500);
    case PictureStopReason::displayUnavailable:
    case PictureStopReason::captureFailed:
        return milliseconds(250);
    case PictureStopReason::stoppedOnComputer:
        return milliseconds(30'000);
    }
    return milliseconds(500);
}

Duration picture_stop_delay_cap(PictureStopReason reason) {
    switch (reason) {
    case PictureStopReason::screenLocked:
    case PictureStopReason::secureDesktop:
        return milliseconds(1'000);
    default:
        return milliseconds(30'000);
    }
}

bool retry_pending(const RecoveryState& state, Instant now) {
    return state.retry_at && now < *state.retry_at;
}

bool report_stream_stop(RecoveryState& state, PictureStopReason reason, bool& frames_flowing,
                        std::int64_t stream_number, Instant now,
                        const PictureStoppedCallback& notify) {
    frames_flowing = false;
    const std::uint8_t code = reason_code(reason);
    const bool same = state.last_reason == kPictureResumed || state.last_reason == code;
    const std::uint32_t previous = same ? state.repeat_count : 0;
    if (!same) {
        state.repeat_count = 1;
    } else if (state.repeat_count < std::numeric_limits<std::uint32_t>::max()) {
        ++state.repeat_count;
    }
    state.last_reason = code;

    const Duration doubled =
        picture_stop_base_delay(reason) * (Duration::rep{1} << std::min<std::uint32_t>(previous, 10));
    const Duration delay = std::min(doubled, picture_stop_delay_cap(reason));
    state.retry_at = now + delay;

    const bool failure = reason == PictureStopReason::displayUnavailable ||
                         reason == PictureStopReason::captureFailed ||
                         reason == PictureStopReason::encoderFailed;
    if ((failure && previous == 0) || state.last_announced == code) return false;
    state.last_announced = code;
    std::string line = "stream #" + std::to_string(stream_number) + ": picture stopped (" +
                       std::string(picture_stop_reason_name(reason)) + ")";
    if (reason != PictureStopReason::stoppedOnComputer) line += "; trying again";
    log_line(line);
    if (notify) notify(code);
    return true;
}

bool note_picture_flowing(RecoveryState& state, bool& frames_flowing,
                          const PictureStoppedCallback& notify) {
    if (frames_flowing) return false;
    frames_flowing = true;
    state = RecoveryState{};
    if (notify) notify(kPictureResumed);
    return true;
}

PictureNotice decide_picture_notice(std::uint8_t& session_reason, std::uint8_t value,
                                    bool has_capability, std::uint64_t session_number) {
    PictureNotice notice;
    const std::string session = "session " + std::to_string(session_number) + ": ";
    if (value == kPictureResumed) {
        if (session_reason == kPictureResumed) return notice;
        session_reason = kPictureResumed;
        notice.kind = PictureNotice::Kind::resumed;
        notice.log_text = session + "the picture runs again";
        notice.send_resumed = has_capability;
        return notice;
    }
    const auto reason = picture_stop_reason_from_code(value);
    if (!reason || session_reason == value) return notice;
    session_reason = value;
    notice.kind = PictureNotice::Kind::stopped;
    notice.reason_name = std::string(picture_stop_reason_name(*reason));
    notice.message = picture_stopped_text(*reason);
    notice.log_text = session + "told the picture stopped (" + notice.reason_name + ")" +
                      (has_capability ? "" : " as a notice");
    notice.send_notice = !has_capability;
    notice.send_stopped = has_capability;
    notice.retrying = *reason != PictureStopReason::stoppedOnComputer;
    return notice;
}

}  // namespace vorlix
