// A stream over a real link: the loop sends through the link writer, which
// seals each frame onto a loopback TCP connection; the device end opens the
// frames, acknowledges each Video frame in the ledger as its `received`
// messages would, decodes the picture and compares it with what the screen
// showed.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>

#include "convert/nv12.h"
#include "net/ip_address.h"
#include "net/socket.h"
#include "stream/stream_output.h"
#include "stream/video_frame.h"
#include "streamloop/device_video.h"
#include "streamloop/loop_harness.h"
#include "streamloop/openh264_codec.h"
#include "support/forwarding_audience.h"
#include "wire/frame.h"
#include "wire/sealed.h"

#ifdef VORLIX_HAVE_OPENH264

namespace vorlix::testing {
namespace {

using namespace std::chrono_literals;

// Keeps a copy of the screen's picture for every frame number it sends.
class RememberingAudience final : public ForwardingAudience {
public:
    RememberingAudience(std::shared_ptr<StreamAudience> inner, SyntheticScreen& screen)
        : ForwardingAudience(std::move(inner)), screen_(screen) {}
    std::size_t send_output(ParameterSets& s, VideoEncoder& e, const EncodedOutput& o, std::uint32_t& n,
                            Instant origin, bool last, Instant now) override {
        const std::uint32_t number = n;
        {
            std::lock_guard lock(mutex);
            pictures[number] = screen_.last_picture;
        }
        return ForwardingAudience::send_output(s, e, o, n, origin, last, now);
    }

    std::mutex mutex;
    std::map<std::uint32_t, Bytes> pictures;

private:
    SyntheticScreen& screen_;
};

TEST(LinkEndToEnd, DeviceDecodesTheScreenOverALoopbackLink) {
    auto listener = Listener::bind(IpAddress::v4(127, 0, 0, 1), 0);
    ASSERT_TRUE(listener.ok()) << listener.error().text;
    auto port = listener->local_port();
    ASSERT_TRUE(port.ok());
    auto device_socket = Socket::connect(IpAddress::v4(127, 0, 0, 1), port.value());
    ASSERT_TRUE(device_socket.ok()) << device_socket.error().text;
    auto host_socket = listener->accept();
    ASSERT_TRUE(host_socket.ok());
    auto writer_socket = host_socket->duplicate();
    ASSERT_TRUE(writer_socket.ok());
    auto writer = start_link_writer(std::move(writer_socket).value());
    ASSERT_TRUE(writer.has_value());
    Key32 key{};
    key.fill(7);
    ASSERT_TRUE(writer->send(WriterItem::install_key(key, 0)));

    LoopHarness h;
    // Real time on a busy machine: keep the picture at full size however slow
    // the encoder is.
    h.slow_ms_setting = "100000";
    h.screen.monitor.width = 320;
    h.screen.monitor.height = 240;
    h.screen.otherwise = SyntheticGrab::picture(0.3);
    h.screen.grab_time = 15ms;
    h.screen.grab_wait = [](Duration d) { std::this_thread::sleep_for(d); };

    auto output = std::make_shared<StreamOutput>();
    output->kind = StreamOutput::Kind::device_session;
    output->link = *writer;
    output->ledger = std::make_shared<FrameLedger>();
    output->watchers = std::make_shared<WebWatcherRegistry>();
    RememberingAudience audience(make_output_audience(output, [](std::string_view) {}), h.screen);

    // The device end.
    std::atomic<int> decoded{0};
    std::atomic<int> stream_infos{0};
    std::vector<double> psnrs;
    std::atomic<bool> device_failed{false};
    std::thread device([&] {
        SealingKey opening(key);
        OpenH264Decoder decoder;
        Bytes pending;
        std::uint8_t buffer[65536];
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (decoded.load() < 40 && std::chrono::steady_clock::now() < end) {
            auto got = device_socket->receive(buffer, sizeof buffer, 200ms);
            if (got.kind == ReceiveOutcome::Kind::TimedOut) continue;
            if (got.kind != ReceiveOutcome::Kind::Data) break;
            pending.insert(pending.end(), buffer, buffer + got.size);
            for (;;) {
                auto cut = cut_frame(pending);
                if (std::holds_alternative<NeedMoreBytes>(cut)) break;
                if (std::holds_alternative<FrameError>(cut)) {
                    device_failed = true;
                    return;
                }
                auto& whole = std::get<CutFrame>(cut);
                auto inner = open_frame(opening, whole.frame.body);
                pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(whole.consumed));
                if (!inner) {
                    device_failed = true;
                    return;
                }
                if (inner->type == FrameType::Control) stream_infos += to_string(inner->body).find("streamInfo") != std::string::npos;
                if (inner->type != FrameType::Video) continue;
                auto video = parse_video(inner->body);
                if (!video) {
                    device_failed = true;
                    return;
                }
                output->ledger->acknowledge_frames(video->number, StreamClock::now());
                auto picture = decoder.decode(annexb_of(*video));
                if (!picture) continue;
                Bytes shown;
                {
                    std::lock_guard lock(audience.mutex);
                    shown = audience.pictures[video->number];
                }
                Bytes expected(320 * 240 * 3 / 2);
                if (!shown.empty() && convert_to_nv12(shown, 320, 240, false, 320, 240, expected))
                    psnrs.push_back(psnr(picture->y, ByteView(expected).first(320 * 240)));
                decoded += 1;
            }
        }
    });

    StreamSeams seams = h.seams();
    seams.clock = &system_loop_clock();
    seams.open_encoder = open_openh264_encoder;
    std::thread stopper([&] {
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (decoded.load() < 40 && !device_failed.load() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(5ms);
        h.control.running.store(0);
    });
    run_stream(h.settings, 11, audience, h.control, seams);
    stopper.join();
    close_and_wait_for_writer(*writer, 5s);
    device.join();

    EXPECT_FALSE(device_failed.load());
    EXPECT_GE(decoded.load(), 40) << h.all_lines();
    EXPECT_EQ(stream_infos.load(), 1);
    ASSERT_FALSE(psnrs.empty());
    for (double p : psnrs) EXPECT_GT(p, 35.0);
    EXPECT_TRUE(output->ledger->acknowledgements_seen());
}

}  // namespace
}  // namespace vorlix::testing

#endif
