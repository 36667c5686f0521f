// File transfer through a whole signed-in session on loopback: the host's
// listener, reader loop, sealed frames, dispatcher, file table and writer,
// with the tests' device peer on the other end. A 256 MiB file goes from the
// device to the PC as binary FileData frames and as fileChunk messages, and
// from the PC to the device. The files live in /dev/shm where there is one.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "files/file_transfers.h"
#include "host/listener.h"
#include "json/base64.h"
#include "support/device_peer.h"
#include "support/fake_platform.h"
#include "support/test_host.h"
#include "util/bytes.h"

namespace vorlix {
namespace {

constexpr std::size_t kFileSize = 256u << 20;
// Pieces of 128 KiB divide the file exactly (a piece may hold up to 192 KiB).
constexpr std::size_t kPiece = 128u << 10;

std::filesystem::path scratch_root() {
    std::error_code error;
    if (std::filesystem::is_directory("/dev/shm", error)) return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

void must(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "session_files: %s\n", what);
        std::abort();
    }
}

// A host listening on loopback with one trusted device signed in.
struct Session {
    std::filesystem::path folder = scratch_root() / ("vorlix-bench-session-" + std::to_string(::getpid()));
    std::shared_ptr<FakePlatform> platform = std::make_shared<FakePlatform>();
    std::shared_ptr<HostState> host;
    std::shared_ptr<ListenerThreads> listener;
    std::unique_ptr<DevicePeer> device;

    explicit Session(bool binary) {
        std::filesystem::create_directories(folder / "Downloads");
        FakePlatform::Answers answers;
        answers.downloads = folder / "Downloads";
        platform->set_answers(answers);
        DeviceIdentity phone = DeviceIdentity::make("Bench Phone");
        host = HostState::create(test_host_config(platform, folder, 0x42, {trusted(phone)}));
        auto started = start_listener(host, 0, false);
        must(started.ok(), "no listener");
        listener = *started;
        auto stream = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), host->snapshot_host_status().port);
        must(stream.ok(), "no connection");
        device = std::make_unique<DevicePeer>(std::move(*stream), phone);
        must(device->sign_in().ok(), "no sign-in");
        const char* info = binary ? R"({"deviceInfo":{"version":"1","features":["binaryFiles"]}})"
                                  : R"({"deviceInfo":{"version":"1","features":[]}})";
        must(device->send_control_text(info).ok(), "deviceInfo not sent");
        ping();
    }
    ~Session() {
        device->close();
        host->say_goodbye_and_close();
        listener->stop();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // A ping answered: everything sent before it was handled.
    void ping() {
        must(device->send_control_text(R"({"ping":{"_0":1}})").ok(), "ping not sent");
        while (true) {
            auto frame = device->receive_frame(std::chrono::seconds(60));
            must(frame.ok(), "no pong");
            if (frame->type == FrameType::Control && to_string(frame->body).starts_with(R"({"pong")")) return;
        }
    }
};

// Device to PC: fileStart, the pieces, fileEnd, then the host's notice that
// the file was saved.
void to_pc(benchmark::State& state, bool binary) {
    Session session(binary);
    const Bytes piece(kPiece, 0x5A);
    const std::string chunk_suffix = "\",\"id\":1}}";
    const std::string chunk_text = R"({"fileChunk":{"data":")" + base64_encode(piece) + chunk_suffix;
    Bytes frame_body(4 + kPiece);
    put_u32_be(frame_body.data(), 1);
    std::copy(piece.begin(), piece.end(), frame_body.begin() + 4);
    for (auto _ : state) {
        must(session.device
                 ->send_control_text(R"({"fileStart":{"id":1,"name":"bench.bin","size":)" + std::to_string(kFileSize) +
                                     R"(,"purpose":"keep"}})")
                 .ok(),
             "fileStart not sent");
        for (std::size_t sent = 0; sent < kFileSize; sent += kPiece) {
            const bool ok = binary ? session.device->send_frame(FrameType::FileData, frame_body).ok()
                                   : session.device->send_control_text(chunk_text).ok();
            must(ok, "a piece was not sent");
        }
        must(session.device->send_control_text(R"({"fileEnd":{"id":1,"ok":true}})").ok(), "fileEnd not sent");
        while (true) {
            auto frame = session.device->receive_frame(std::chrono::seconds(60));
            must(frame.ok(), "no answer to the file");
            const std::string text = to_string(frame->body);
            if (text.find("Saved to Downloads") != std::string::npos) break;
            must(text.find("did not arrive whole") == std::string::npos, "the file did not arrive whole");
        }
        state.PauseTiming();
        std::error_code ignored;
        std::filesystem::remove(session.folder / "Downloads" / "bench.bin", ignored);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}

void BM_DeviceToPcBinaryFrames(benchmark::State& state) { to_pc(state, true); }
void BM_DeviceToPcFileChunks(benchmark::State& state) { to_pc(state, false); }

// PC to device: the device asks for an offered file and reads every piece.
void BM_PcToDevice(benchmark::State& state) {
    Session session(state.range(0) != 0);
    const auto path = session.folder / "offered.bin";
    {
        std::ofstream out(path, std::ios::binary);
        const std::string block(1 << 20, 'x');
        for (std::size_t i = 0; i < kFileSize / block.size(); ++i) out << block;
    }
    for (auto _ : state) {
        std::uint64_t id;
        {
            std::lock_guard lock(session.host->transfer_mutex);
            auto offer = register_file_offer(session.host->transfers, path);
            must(offer.has_value(), "no offer");
            id = offer->id;
        }
        must(session.device->send_control_text(R"({"fileRequest":{"id":)" + std::to_string(id) + "}}").ok(),
             "fileRequest not sent");
        while (true) {
            auto frame = session.device->receive_frame(std::chrono::seconds(60));
            must(frame.ok(), "the file did not arrive");
            if (frame->type == FrameType::Control && to_string(frame->body).starts_with(R"({"fileEnd")")) break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}

BENCHMARK(BM_DeviceToPcBinaryFrames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);
BENCHMARK(BM_DeviceToPcFileChunks)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_PcToDevice)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

}  // namespace
}  // namespace vorlix
