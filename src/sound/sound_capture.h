// The PC's sound during a stream: the thread "vorlix-sound" captures what
// the default output device plays, every 10 ms or so, and sends it as Audio
// frames to the session's link and to the web watchers that asked for sound.
//
// The capture runs over two seams so that the cycle runs anywhere: a
// SoundSource (WASAPI loopback on Windows) and a SoundOutput (the links).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "host/link_writer.h"
#include "host/platform.h"
#include "host/watchers.h"
#include "stream/sound.h"
#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

// The system's loopback capture of the default output device. Created and
// released on the sound thread.
class SoundSource {
public:
    struct Packet {
        ByteView data;  // valid until release_packet
        std::uint32_t frames = 0;
        bool silent = false;
    };

    virtual ~SoundSource() = default;  // stops the capture, releases everything

    // Opens the default output device's loopback in shared mode with a
    // buffer of `buffer` and gives its mix format.
    virtual Result<MixFormat> open(std::chrono::milliseconds buffer) = 0;
    // Starts capturing.
    virtual Status start() = 0;
    // Frames in the next packet; 0 when everything captured was taken.
    virtual Result<std::uint32_t> next_packet_size() = 0;
    virtual Result<Packet> get_packet() = 0;
    virtual Status release_packet(std::uint32_t frames) = 0;
    // Whether the last call that failed did so because the output device
    // went away or was reconfigured (a new default output, headphones
    // plugged in): a new source may capture on the new default output.
    virtual bool device_invalidated() const { return false; }
};

using SoundSourceFactory = std::function<std::unique_ptr<SoundSource>()>;

// Where the sound goes.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Whether the audience still takes frames: the session's writer runs, or
    // (without a session link) some web watcher is there.
    virtual bool takes_frames() = 0;
    // Sends one Audio frame body; nothing is reported back.
    virtual void send(const Bytes& body) = 0;
};

// The links of a stream: the session's own (none for watchers only) and the
// web watchers. `sound_watchers` gives, in registry order and taken under the
// registry's lock, clones of the writers of the watchers that asked for
// sound; `has_watchers` tells whether the registry holds any watcher. A
// watcher gets nothing while 2,000,000 bytes or more are queued on its link,
// the session's link nothing while more than 999,999 are.
class LinkSoundOutput final : public SoundOutput {
public:
    LinkSoundOutput(std::optional<LinkWriter> session, std::function<std::vector<LinkWriter>()> sound_watchers,
                    std::function<bool()> has_watchers);
    // Over the stream's watcher registry.
    LinkSoundOutput(std::optional<LinkWriter> session, std::shared_ptr<const WebWatcherRegistry> registry);

    bool takes_frames() override;
    void send(const Bytes& body) override;

private:
    std::optional<LinkWriter> session_;
    std::function<std::vector<LinkWriter>()> sound_watchers_;
    std::function<bool()> has_watchers_;
};

struct SoundCycleOptions {
    std::chrono::milliseconds cycle{10};
    std::chrono::milliseconds buffer{200};
    // Waits between cycles; tests replace it.
    std::function<void(std::chrono::milliseconds)> sleep = [](std::chrono::milliseconds d) {
        std::this_thread::sleep_for(d);
    };
    // After the output device went away: how many new sources are tried in
    // a row (without a cycle captured in between) before the capture ends,
    // and the wait before each, which lets the system settle on its new
    // default output.
    int reopen_attempts = 5;
    std::chrono::milliseconds reopen_wait{200};
};

// The capture: makes a source on the default output, checks the mix format,
// and runs the cycles while the stream runs and its audience takes frames.
// When the output device goes away under it, the source is released and a
// new one made on the new default output; any other failure ends the
// capture with "sound capture stopped: ...".
void capture_sound_loop(const SoundSourceFactory& make_source, SoundOutput& output, const StreamControl& control,
                        const SoundCycleOptions& options = {});

// The body of "vorlix-sound": runs the capture on this thread, where its
// sources are made and released.
void run_sound_thread(const SoundSourceFactory& make_source, std::shared_ptr<SoundOutput> output,
                      std::shared_ptr<StreamControl> control, const SoundCycleOptions& options = {});

// Starts "vorlix-sound"; none when the thread cannot be started (the stream
// then goes on without sound, and nothing is logged).
std::optional<std::thread> start_sound_thread(SoundSourceFactory make_source, std::shared_ptr<SoundOutput> output,
                                              std::shared_ptr<StreamControl> control);

// The system's loopback capture (WASAPI on Windows; elsewhere a source that
// fails to open).
std::unique_ptr<SoundSource> make_loopback_sound_source();

}  // namespace vorlix
