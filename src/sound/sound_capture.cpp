#include "sound/sound_capture.h"

#include <exception>
#include <system_error>
#include <utility>

#include "host/log.h"
#include "util/thread_name.h"
#include "wire/frame.h"

namespace vorlix {

namespace {

void log_stopped(const Error& error) { log_line("sound capture stopped: " + error.text); }

// Takes everything captured since the last cycle into `gathered`.
Status drain(SoundSource& source, MixSamples kind, std::uint16_t channels, std::vector<float>& gathered) {
    for (;;) {
        auto size = source.next_packet_size();
        if (!size.ok()) return size.error();
        if (*size == 0) return {};
        auto packet = source.get_packet();
        if (!packet.ok()) return packet.error();
        append_stereo_frames(gathered, packet->data, packet->frames, packet->silent, kind, channels);
        Status released = source.release_packet(packet->frames);
        if (!released.ok()) return released;
    }
}

}  // namespace

LinkSoundOutput::LinkSoundOutput(std::optional<LinkWriter> session,
                                 std::function<std::vector<LinkWriter>()> sound_watchers,
                                 std::function<bool()> has_watchers)
    : session_(std::move(session)), sound_watchers_(std::move(sound_watchers)), has_watchers_(std::move(has_watchers)) {}

LinkSoundOutput::LinkSoundOutput(std::optional<LinkWriter> session, std::shared_ptr<const WebWatcherRegistry> registry)
    : session_(std::move(session)) {
    if (!registry) return;
    sound_watchers_ = [registry] {
        std::vector<LinkWriter> writers;
        auto lock = registry->lock();
        for (const auto& entry : registry->entries)
            if (watcher_takes_sound(entry.sound, entry.writer.queued_bytes())) writers.push_back(entry.writer);
        return writers;
    };
    has_watchers_ = [registry] { return registry->size() > 0; };
}

bool LinkSoundOutput::takes_frames() {
    if (session_) return session_->running();
    return has_watchers_ && has_watchers_();
}

void LinkSoundOutput::send(const Bytes& body) {
    if (sound_watchers_) {
        for (LinkWriter& watcher : sound_watchers_()) {
            // send_frame counts the bytes first, takes them back when the
            // send fails, and queues nothing once the writer stopped.
            if (watcher_takes_sound(true, watcher.queued_bytes())) watcher.send_frame(FrameType::Audio, body);
        }
    }
    if (!session_ || !session_link_takes_sound(session_->queued_bytes())) return;
    session_->send_frame(FrameType::Audio, body);
}

namespace {

// How the capture on one source ended.
struct SourceEnd {
    std::optional<Error> error;   // the failed call's; none for an ordinary end
    bool device_lost = false;     // the error came from an invalidated device
    bool captured = false;        // at least one cycle was drained
};

SourceEnd capture_from(SoundSource& source, SoundOutput& output, const StreamControl& control,
                       const SoundCycleOptions& options) {
    SourceEnd end;
    auto failed = [&](const Error& error) {
        end.error = error;
        end.device_lost = source.device_invalidated();
        return end;
    };
    auto format = source.open(options.buffer);
    if (!format.ok()) return failed(format.error());
    log_line(mix_format_log_text(*format));
    const MixSamples kind = classify_mix_format(*format);
    if (kind == MixSamples::not_handled) {
        log_line("sound: this mix format is not handled; no sound");
        return end;
    }
    Status started = source.start();
    if (!started.ok()) return failed(started.error());

    ResamplerState resampler = make_resampler(format->rate);
    std::vector<float> gathered;
    while (control.running.load() && output.takes_frames()) {
        options.sleep(options.cycle);
        gathered.clear();
        Status drained = drain(source, kind, format->channels, gathered);
        if (!drained.ok()) return failed(drained.error());
        end.captured = true;
        if (auto body = sound_cycle_packet(resampler, gathered, control.sound.load() != 0)) output.send(*body);
        if (!control.running.load()) break;
    }
    return end;
}

}  // namespace

void capture_sound_loop(const SoundSourceFactory& make_source, SoundOutput& output, const StreamControl& control,
                        const SoundCycleOptions& options) {
    for (int reopened = 0;;) {
        SourceEnd end;
        {
            // Released before the next one is made, as the system asks.
            std::unique_ptr<SoundSource> source = make_source();
            if (!source) return;
            end = capture_from(*source, output, control, options);
        }
        if (!end.error) return;
        if (end.captured) reopened = 0;
        if (!end.device_lost || reopened >= options.reopen_attempts) {
            log_stopped(*end.error);
            return;
        }
        ++reopened;
        log_line("sound: the output device changed; capturing the new default output");
        options.sleep(options.reopen_wait);
        if (!control.running.load() || !output.takes_frames()) return;
    }
}

void run_sound_thread(const SoundSourceFactory& make_source, std::shared_ptr<SoundOutput> output,
                      std::shared_ptr<StreamControl> control, const SoundCycleOptions& options) {
    set_current_thread_name("vorlix-sound");
    // A fault in here ends the sound, never the stream or the host.
    try {
        capture_sound_loop(make_source, *output, *control, options);
    } catch (const std::exception& fault) {
        log_stopped(Error(std::string("a fault in the sound thread (") + fault.what() + ")"));
    } catch (...) {
        log_stopped(Error("a fault in the sound thread"));
    }
}

std::optional<std::thread> start_sound_thread(SoundSourceFactory make_source, std::shared_ptr<SoundOutput> output,
                                              std::shared_ptr<StreamControl> control) {
    try {
        return std::thread([make_source = std::move(make_source), output = std::move(output),
                            control = std::move(control)]() mutable {
            run_sound_thread(make_source, std::move(output), std::move(control));
        });
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

}  // namespace vorlix
