// The sound cycle over a scripted source and real link writers: mix
// formats, resampling, the sound flag, the queued-bytes rules and the ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>

#include "sound/sound_capture.h"
#include "support/text_count.h"
#include "support/captured_stderr.h"

namespace vorlix {
namespace {

using testing::occurrences;

// One captured packet: raw sample bytes in the mix format.
struct ScriptedPacket {
    Bytes data;
    std::uint32_t frames = 0;
    bool silent = false;
};

class ScriptedSoundSource : public SoundSource {
public:
    Result<MixFormat> open_result = MixFormat{};
    Status start_status;
    std::deque<std::vector<ScriptedPacket>> cycles;  // what each drain finds
    std::optional<Error> drain_error;                 // given once the cycles are used up
    std::chrono::milliseconds opened_with{0};
    int starts = 0;
    std::vector<std::uint32_t> released;
    bool* destroyed = nullptr;
    bool invalidated = false;  // the failures come from an invalidated device

    ~ScriptedSoundSource() override {
        if (destroyed) *destroyed = true;
    }

    Result<MixFormat> open(std::chrono::milliseconds buffer) override {
        opened_with = buffer;
        return open_result;
    }
    Status start() override {
        ++starts;
        return start_status;
    }
    Result<std::uint32_t> next_packet_size() override {
        if (current_.empty()) {
            if (in_cycle_) return std::uint32_t{0};  // this cycle is drained
            in_cycle_ = true;
            if (cycles.empty()) {
                if (drain_error) return *drain_error;
                return std::uint32_t{0};
            }
            current_.assign(cycles.front().begin(), cycles.front().end());
            cycles.pop_front();
            if (current_.empty()) return std::uint32_t{0};
        }
        return current_.front().frames;
    }
    Result<Packet> get_packet() override {
        const ScriptedPacket& packet = current_.front();
        return Packet{ByteView(packet.data), packet.frames, packet.silent};
    }
    Status release_packet(std::uint32_t frames) override {
        released.push_back(frames);
        current_.pop_front();
        return {};
    }
    bool device_invalidated() const override { return invalidated; }
    // Called by the test's sleep: a new cycle begins.
    void next_cycle() { in_cycle_ = false; }

private:
    std::deque<ScriptedPacket> current_;
    bool in_cycle_ = false;
};

MixFormat float_mix(std::uint32_t rate, std::uint16_t channels) {
    MixFormat f;
    f.format_tag = kWaveFormatIeeeFloat;
    f.rate = rate;
    f.channels = channels;
    f.bits_per_sample = 32;
    return f;
}

MixFormat int16_mix(std::uint32_t rate, std::uint16_t channels) {
    MixFormat f;
    f.format_tag = 1;  // PCM
    f.rate = rate;
    f.channels = channels;
    f.bits_per_sample = 16;
    return f;
}

ScriptedPacket float_packet(const std::vector<float>& samples, std::uint16_t channels) {
    ScriptedPacket p;
    p.data.resize(samples.size() * 4);
    std::memcpy(p.data.data(), samples.data(), p.data.size());
    p.frames = static_cast<std::uint32_t>(samples.size() / channels);
    return p;
}

ScriptedPacket int16_packet(const std::vector<std::int16_t>& samples, std::uint16_t channels) {
    ScriptedPacket p;
    p.data.resize(samples.size() * 2);
    std::memcpy(p.data.data(), samples.data(), p.data.size());
    p.frames = static_cast<std::uint32_t>(samples.size() / channels);
    return p;
}

// What the capture makes and releases: a scripted source that the test keeps.
class SourceInUse final : public SoundSource {
public:
    SourceInUse(ScriptedSoundSource& source, std::vector<std::string>& events) : source_(source), events_(events) {}
    ~SourceInUse() override { events_.push_back("release"); }
    Result<MixFormat> open(std::chrono::milliseconds buffer) override {
        events_.push_back("open");
        return source_.open(buffer);
    }
    Status start() override { return source_.start(); }
    Result<std::uint32_t> next_packet_size() override { return source_.next_packet_size(); }
    Result<Packet> get_packet() override { return source_.get_packet(); }
    Status release_packet(std::uint32_t frames) override { return source_.release_packet(frames); }
    bool device_invalidated() const override { return source_.device_invalidated(); }

private:
    ScriptedSoundSource& source_;
    std::vector<std::string>& events_;
};

struct Packet {
    std::uint32_t rate = 0;
    std::uint8_t channels = 0;
    std::vector<std::int16_t> samples;
};

Packet read_packet(const WriterItem& item) {
    EXPECT_EQ(item.kind, WriterItem::Kind::Frame);
    EXPECT_EQ(item.type, FrameType::Audio);
    Packet p;
    if (item.bytes.size() < 5) return p;
    p.rate = get_u32_be(item.bytes.data());
    p.channels = item.bytes[4];
    for (std::size_t i = 5; i + 1 < item.bytes.size(); i += 2)
        p.samples.push_back(static_cast<std::int16_t>(item.bytes[i] | (item.bytes[i + 1] << 8)));
    return p;
}

std::vector<Packet> drain_items(Receiver<WriterItem>& items) {
    std::vector<Packet> packets;
    while (auto item = items.try_receive()) packets.push_back(read_packet(*item));
    return packets;
}

// A stream with a session link, running the cycle for `cycles` passes.
struct SoundRig {
    ScriptedSoundSource source;
    std::deque<ScriptedSoundSource> reopened;  // made, in order, after the first
    std::vector<std::string> source_events;
    std::vector<std::chrono::milliseconds> other_waits;  // waits that are not cycles
    ScriptedSoundSource* current = &source;
    StreamControl control;
    LinkWriter session;
    Receiver<WriterItem> session_items;
    std::vector<std::pair<LinkWriter, Receiver<WriterItem>>> watchers;  // all asked for sound
    bool with_session = true;
    int max_cycles = 1;
    int cycles_run = 0;
    std::function<void(int)> before_cycle;  // test hook, given the cycle's number

    SoundRig() {
        auto made = LinkWriter::make();
        session = made.first;
        session_items = std::move(made.second);
        control.sound = 1;
    }
    LinkWriter& add_watcher() {
        watchers.push_back(LinkWriter::make());
        return watchers.back().first;
    }
    void run() {
        std::optional<LinkWriter> link;
        if (with_session) link = session;
        LinkSoundOutput output(
            link,
            [this] {
                std::vector<LinkWriter> list;
                for (auto& w : watchers) list.push_back(w.first);
                return list;
            },
            [this] { return !watchers.empty(); });
        SoundCycleOptions options;
        options.sleep = [this](std::chrono::milliseconds waited) {
            if (waited != std::chrono::milliseconds(10)) {
                other_waits.push_back(waited);
                return;
            }
            if (before_cycle) before_cycle(cycles_run);
            ++cycles_run;
            if (cycles_run >= max_cycles) control.running = 0;  // this cycle is the last
            current->next_cycle();
        };
        std::size_t made = 0;
        auto make_source = [&]() -> std::unique_ptr<SoundSource> {
            ScriptedSoundSource* next = made == 0 ? &source : made <= reopened.size() ? &reopened[made - 1] : nullptr;
            ++made;
            if (!next) return nullptr;
            current = next;
            return std::make_unique<SourceInUse>(*next, source_events);
        };
        capture_sound_loop(make_source, output, control, options);
    }
};

TEST(SoundCycle, FloatStereoAt48kHzPassesThroughAsOnePacketPerCycle) {
    SoundRig rig;
    rig.source.open_result = float_mix(48'000, 2);
    rig.source.cycles.push_back({float_packet({0.5f, -0.5f, 1.5f, -1.5f}, 2), float_packet({0.0f, 0.25f}, 2)});
    ::testing::internal::CaptureStderr();
    rig.run();
    const std::string log = captured_stderr();
    EXPECT_NE(log.find("sound: loopback 48000 Hz, 2 channels, 32-bit float"), std::string::npos) << log;
    EXPECT_EQ(rig.source.opened_with, std::chrono::milliseconds(200));
    EXPECT_EQ(rig.source.released, (std::vector<std::uint32_t>{2, 1}));

    auto packets = drain_items(rig.session_items);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].rate, 48'000u);
    EXPECT_EQ(packets[0].channels, 2);
    // Scaled by 32767 and clamped: 1.5 gives 32767, -1.5 gives -32767.
    EXPECT_EQ(packets[0].samples, (std::vector<std::int16_t>{16383, -16383, 32767, -32767, 0, 8191}));
    EXPECT_EQ(rig.session.queued_bytes(), 5u + 12u);
}

TEST(SoundCycle, MonoAndManyChannelMixesBecomeStereo) {
    SoundRig mono;
    mono.source.open_result = int16_mix(48'000, 1);
    mono.source.cycles.push_back({int16_packet({16384, -32768}, 1)});
    mono.run();
    auto packets = drain_items(mono.session_items);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].samples, (std::vector<std::int16_t>{16383, 16383, -32767, -32767}));

    SoundRig six;
    six.source.open_result = float_mix(48'000, 6);
    six.source.cycles.push_back({float_packet({0.1f, 0.2f, 0.9f, 0.9f, 0.9f, 0.9f,  //
                                               0.3f, 0.4f, 0.9f, 0.9f, 0.9f, 0.9f},
                                              6)});
    six.run();
    packets = drain_items(six.session_items);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].samples, (std::vector<std::int16_t>{3276, 6553, 9830, 13106}));
}

TEST(SoundCycle, SilentBufferGivesZerosOfTheRightLength) {
    SoundRig rig;
    rig.source.open_result = float_mix(48'000, 2);
    ScriptedPacket silent;
    silent.frames = 480;
    silent.silent = true;
    rig.source.cycles.push_back({silent});
    rig.run();
    auto packets = drain_items(rig.session_items);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].samples, std::vector<std::int16_t>(960, 0));
}

TEST(SoundCycle, A44kHzMixIsResampledAndBlocksJoin) {
    SoundRig rig;
    rig.source.open_result = float_mix(44'100, 2);
    rig.max_cycles = 10;
    // A slow ramp, 441 frames (10 ms) per cycle, the same in both channels.
    int frame = 0;
    for (int c = 0; c < 10; ++c) {
        std::vector<float> samples;
        for (int i = 0; i < 441; ++i, ++frame) {
            const float v = static_cast<float>(frame) / 8192.0f;
            samples.push_back(v);
            samples.push_back(v);
        }
        rig.source.cycles.push_back({float_packet(samples, 2)});
    }
    rig.run();
    auto packets = drain_items(rig.session_items);
    ASSERT_EQ(packets.size(), 10u);
    std::size_t total = 0;
    std::vector<std::int16_t> left;
    for (auto& p : packets) {
        EXPECT_EQ(p.rate, 48'000u);
        EXPECT_NEAR(static_cast<double>(p.samples.size() / 2), 480.0, 1.0);
        total += p.samples.size() / 2;
        for (std::size_t i = 0; i < p.samples.size(); i += 2) left.push_back(p.samples[i]);
    }
    EXPECT_NEAR(static_cast<double>(total), 4800.0, 1.0);
    // The ramp rises smoothly across packet borders: no step is larger than
    // one input step (32767 / 8192 per input frame).
    for (std::size_t i = 1; i < left.size(); ++i) {
        EXPECT_GE(left[i], left[i - 1]) << i;
        EXPECT_LE(left[i] - left[i - 1], 5) << i;
    }
}

TEST(SoundCycle, SoundFlagOffDropsTheSoundButCaptureGoesOn) {
    SoundRig rig;
    rig.source.open_result = float_mix(48'000, 2);
    rig.max_cycles = 3;
    for (int c = 0; c < 3; ++c) rig.source.cycles.push_back({float_packet({0.5f, 0.5f}, 2)});
    rig.control.sound = 0;
    rig.before_cycle = [&](int cycle) {
        if (cycle == 2) rig.control.sound = 1;  // switched on: sent at the next cycle
    };
    rig.run();
    EXPECT_EQ(rig.source.released.size(), 3u);  // captured all along
    EXPECT_EQ(drain_items(rig.session_items).size(), 1u);
}

TEST(SoundCycle, CycleWithNothingGatheredSendsNothing) {
    SoundRig rig;
    rig.source.open_result = float_mix(48'000, 2);
    rig.max_cycles = 2;
    rig.source.cycles.push_back({});
    rig.source.cycles.push_back({float_packet({0.5f, 0.5f}, 2)});
    rig.run();
    EXPECT_EQ(drain_items(rig.session_items).size(), 1u);
}

TEST(SoundCycle, SessionLinkDropsSoundAboveItsQueuedLimit) {
    for (std::uint64_t queued : {999'999ull, 1'000'000ull}) {
        SoundRig rig;
        rig.source.open_result = float_mix(48'000, 2);
        rig.source.cycles.push_back({float_packet({0.5f, 0.5f}, 2)});
        rig.session.queued_bytes_counter()->store(queued);
        rig.run();
        EXPECT_EQ(drain_items(rig.session_items).size(), queued == 999'999 ? 1u : 0u) << queued;
    }
}

TEST(SoundCycle, WatchersWhoAskedForSoundGetItBelowTheirLimit) {
    SoundRig rig;
    rig.source.open_result = float_mix(48'000, 2);
    rig.source.cycles.push_back({float_packet({0.5f, 0.5f}, 2)});
    rig.add_watcher().queued_bytes_counter()->store(1'999'999);
    rig.add_watcher().queued_bytes_counter()->store(2'000'000);
    LinkWriter& stopped = rig.add_watcher();
    stopped.running_flag()->store(false);
    rig.run();
    EXPECT_EQ(drain_items(rig.watchers[0].second).size(), 1u);
    EXPECT_EQ(rig.watchers[0].first.queued_bytes(), 1'999'999u + 9u);
    EXPECT_EQ(drain_items(rig.watchers[1].second).size(), 0u);
    EXPECT_EQ(drain_items(rig.watchers[2].second).size(), 0u);
    EXPECT_EQ(stopped.queued_bytes(), 0u);
    EXPECT_EQ(drain_items(rig.session_items).size(), 1u);
}

TEST(SoundOutput, RegistryWatchersGetSoundOnlyWhenTheyAskedForIt) {
    auto registry = std::make_shared<WebWatcherRegistry>();
    auto [quiet, quiet_items] = LinkWriter::make();
    auto [listening, listening_items] = LinkWriter::make();
    {
        auto lock = registry->lock();
        WebWatcherRegistry::Entry off;
        off.writer = quiet;
        WebWatcherRegistry::Entry on;
        on.writer = listening;
        on.sound = true;
        registry->entries.push_back(off);
        registry->entries.push_back(on);
    }
    LinkSoundOutput watchers_only(std::nullopt, registry);
    EXPECT_TRUE(watchers_only.takes_frames());
    watchers_only.send(Bytes{0, 0, 0xBB, 0x80, 2, 1, 0});
    EXPECT_EQ(drain_items(quiet_items).size(), 0u);
    ASSERT_EQ(drain_items(listening_items).size(), 1u);

    {
        auto lock = registry->lock();
        registry->entries.clear();
    }
    EXPECT_FALSE(watchers_only.takes_frames());
}

TEST(SoundCycle, EndsWhenTheAudienceIsGoneWithoutALogLine) {
    SoundRig rig;  // the session's writer stops
    rig.source.open_result = float_mix(48'000, 2);
    rig.max_cycles = 100;
    rig.before_cycle = [&](int cycle) {
        if (cycle == 1) rig.session.running_flag()->store(false);
    };
    ::testing::internal::CaptureStderr();
    rig.run();
    const std::string log = captured_stderr();
    EXPECT_EQ(rig.cycles_run, 2);
    EXPECT_EQ(occurrences(log, "stopped"), 0) << log;

    SoundRig watchers_only;  // no session link: runs while watchers are there
    watchers_only.with_session = false;
    watchers_only.source.open_result = float_mix(48'000, 2);
    watchers_only.max_cycles = 100;
    watchers_only.add_watcher();
    watchers_only.before_cycle = [&](int cycle) {
        if (cycle == 2) watchers_only.watchers.clear();
    };
    watchers_only.run();
    EXPECT_EQ(watchers_only.cycles_run, 3);

    SoundRig nobody;
    nobody.with_session = false;
    nobody.source.open_result = float_mix(48'000, 2);
    nobody.run();
    EXPECT_EQ(nobody.cycles_run, 0);
}

TEST(SoundCycle, MixFormatsThatAreNotHandledEndWithOneLine) {
    MixFormat twenty_four = int16_mix(48'000, 2);
    twenty_four.bits_per_sample = 24;
    MixFormat no_rate = float_mix(0, 2);
    MixFormat no_channels = float_mix(48'000, 0);
    for (const MixFormat& format : {twenty_four, no_rate, no_channels}) {
        SoundRig rig;
        rig.source.open_result = format;
        ::testing::internal::CaptureStderr();
        rig.run();
        const std::string log = captured_stderr();
        EXPECT_EQ(occurrences(log, "sound: this mix format is not handled; no sound"), 1) << log;
        EXPECT_EQ(occurrences(log, "sound capture stopped"), 0) << log;
        EXPECT_EQ(rig.source.starts, 0);
        EXPECT_EQ(rig.cycles_run, 0);
    }
}

TEST(SoundCycle, FailingAudioCallsStopTheCaptureWithTheirError) {
    SoundRig no_device;
    no_device.source.open_result = Error("Element not found. (0x80070490)");
    ::testing::internal::CaptureStderr();
    no_device.run();
    std::string log = captured_stderr();
    EXPECT_EQ(occurrences(log, "sound capture stopped: Element not found. (0x80070490)"), 1) << log;

    SoundRig no_start;
    no_start.source.open_result = float_mix(48'000, 2);
    no_start.source.start_status = Error("no capture client");
    ::testing::internal::CaptureStderr();
    no_start.run();
    log = captured_stderr();
    EXPECT_EQ(occurrences(log, "sound capture stopped: no capture client"), 1) << log;
    EXPECT_EQ(no_start.cycles_run, 0);

    SoundRig removed;
    removed.source.open_result = float_mix(48'000, 2);
    removed.max_cycles = 100;
    removed.source.cycles.push_back({float_packet({0.5f, 0.5f}, 2)});
    removed.source.drain_error = Error("device removed");
    ::testing::internal::CaptureStderr();
    removed.run();
    log = captured_stderr();
    EXPECT_EQ(occurrences(log, "sound capture stopped: device removed"), 1) << log;
    EXPECT_EQ(removed.cycles_run, 2);
    EXPECT_EQ(removed.source_events, (std::vector<std::string>{"open", "release"}));
    EXPECT_EQ(drain_items(removed.session_items).size(), 1u);
}

TEST(SoundCycle, AnInvalidatedDeviceIsReleasedAndTheNewDefaultOutputCaptured) {
    SoundRig rig;
    rig.max_cycles = 3;
    rig.source.open_result = float_mix(48'000, 2);
    rig.source.cycles.push_back({float_packet({0.5f, 0.5f}, 2)});
    rig.source.drain_error = Error("device invalidated");
    rig.source.invalidated = true;
    // The new default output is not ready at the first try, then captures
    // in its own format.
    ScriptedSoundSource& settling = rig.reopened.emplace_back();
    settling.open_result = Error("device invalidated");
    settling.invalidated = true;
    ScriptedSoundSource& headphones = rig.reopened.emplace_back();
    headphones.open_result = float_mix(44'100, 2);
    headphones.cycles.push_back({float_packet(std::vector<float>(882, 0.25f), 2)});

    ::testing::internal::CaptureStderr();
    rig.run();
    const std::string log = captured_stderr();
    EXPECT_EQ(rig.source_events, (std::vector<std::string>{"open", "release", "open", "release", "open", "release"}));
    EXPECT_EQ(rig.other_waits, std::vector<std::chrono::milliseconds>(2, std::chrono::milliseconds(200)));
    EXPECT_EQ(occurrences(log, "sound: the output device changed; capturing the new default output"), 2) << log;
    EXPECT_EQ(occurrences(log, "sound: loopback 44100 Hz, 2 channels, 32-bit float"), 1) << log;
    EXPECT_EQ(occurrences(log, "stopped"), 0) << log;
    auto packets = drain_items(rig.session_items);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].rate, 48'000u);
    EXPECT_NEAR(static_cast<double>(packets[1].samples.size() / 2), 480.0, 1.0);
}

TEST(SoundCycle, AnOutputThatStaysInvalidatedEndsTheCaptureAfterFiveTries) {
    SoundRig rig;
    rig.source.open_result = Error("device invalidated");
    rig.source.invalidated = true;
    for (int i = 0; i < 6; ++i) {
        ScriptedSoundSource& next = rig.reopened.emplace_back();
        next.open_result = Error("device invalidated");
        next.invalidated = true;
    }
    rig.reopened.back().open_result = float_mix(48'000, 2);  // never reached
    ::testing::internal::CaptureStderr();
    rig.run();
    const std::string log = captured_stderr();
    EXPECT_EQ(std::count(rig.source_events.begin(), rig.source_events.end(), "open"), 6);
    EXPECT_EQ(rig.other_waits.size(), 5u);
    EXPECT_EQ(occurrences(log, "sound capture stopped: device invalidated"), 1) << log;
    EXPECT_EQ(occurrences(log, "sound: loopback"), 0) << log;
}

TEST(SoundThread, RunsOnItsOwnThreadAndReleasesTheSource) {
    auto control = std::make_shared<StreamControl>();
    auto [writer, items] = LinkWriter::make();
    auto output = std::make_shared<LinkSoundOutput>(writer, nullptr, nullptr);
    bool destroyed = false;
    ::testing::internal::CaptureStderr();
    auto thread = start_sound_thread(
        [&]() -> std::unique_ptr<SoundSource> {
            auto source = std::make_unique<ScriptedSoundSource>();
            source->open_result = Error("no output device");
            source->destroyed = &destroyed;
            return source;
        },
        output, control);
    ASSERT_TRUE(thread.has_value());
    thread->join();
    const std::string log = captured_stderr();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(occurrences(log, "sound capture stopped: no output device"), 1) << log;
}

}  // namespace
}  // namespace vorlix
