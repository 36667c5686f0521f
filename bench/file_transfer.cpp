// Throughput of file transfer: a file from the PC cut into pieces and queued
// on a link (binary FileData frames, and fileChunk messages for devices
// without binaryFiles), and pieces from the device written into a new file.
// A consumer thread stands in for the link's writer: it takes every item and
// gives its bytes back to the queued-bytes counter, as the writer does after
// a write.
#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <unistd.h>

#include "files/file_send.h"
#include "files/file_system.h"
#include "files/file_transfers.h"
#include "host/link_writer.h"

namespace vorlix {
namespace {

constexpr std::size_t kFileSize = 32 * 1024 * 1024;

// A temporary folder for the run, removed when the program ends.
struct BenchFolder {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("vorlix-bench-files-" + std::to_string(::getpid()));
    BenchFolder() { std::filesystem::create_directories(path); }
    ~BenchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

const std::filesystem::path& bench_folder() {
    static const BenchFolder folder;
    return folder.path;
}

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 12));
    return bytes;
}

const std::filesystem::path& source_file() {
    static const std::filesystem::path path = [] {
        auto file = bench_folder() / "source.bin";
        const Bytes bytes = pattern(kFileSize);
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return file;
    }();
    return path;
}

// Takes the link's items as its writer would, until the link closes.
class DrainingLink {
public:
    DrainingLink() {
        auto [writer, items] = LinkWriter::make();
        writer.running_flag()->store(true);
        writer_ = writer;
        consumer_ = std::thread([items = std::move(items), counter = writer.queued_bytes_counter()]() mutable {
            while (auto item = items.receive()) {
                if (item->kind == WriterItem::Kind::Close) return;
                counter->fetch_sub(item->bytes.size());
            }
        });
    }
    ~DrainingLink() {
        writer_.send(WriterItem::close());
        consumer_.join();
    }
    const LinkWriter& writer() const { return writer_; }

private:
    LinkWriter writer_;
    std::thread consumer_;
};

void BM_SendFile(benchmark::State& state) {
    const bool binary = state.range(0) != 0;
    const auto& path = source_file();
    auto files = system_file_system();
    DrainingLink link;
    for (auto _ : state) {
        const bool ok = send_file(link.writer(), 7, path, "keep", binary, *files);
        if (!ok) state.SkipWithError("the file was not sent whole");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kFileSize));
    state.SetLabel(binary ? "FileData frames" : "fileChunk messages");
}
BENCHMARK(BM_SendFile)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReceiveFile(benchmark::State& state) {
    const Bytes piece = pattern(kFilePieceSize);
    const std::size_t pieces = kFileSize / kFilePieceSize;
    const std::uint64_t size = static_cast<std::uint64_t>(pieces) * kFilePieceSize;
    const auto folder = bench_folder() / "Downloads";
    std::filesystem::create_directories(folder);
    FileTransfers transfers;
    std::uint64_t id = 1;
    for (auto _ : state) {
        begin_incoming_file(transfers, folder, id, "incoming.bin", size);
        for (std::size_t i = 0; i < pieces; ++i) write_incoming_chunk(transfers, id, piece);
        const IncomingOutcome outcome = finish_incoming_file(transfers, id, true);
        if (outcome.kind != IncomingOutcome::Kind::saved) {
            state.SkipWithError("the file was not saved");
            break;
        }
        state.PauseTiming();
        std::filesystem::remove(outcome.path);
        ++id;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_ReceiveFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vorlix

