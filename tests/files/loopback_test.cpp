// A file offered by the PC crosses a real link: the writer seals its pieces
// onto a loopback socket and a slow reader on the other end opens them.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "files/file_send.h"
#include "files/file_transfers.h"
#include "json/json.h"
#include "storage/temp_folder.h"
#include "support/loopback_link.h"
#include "wire/sealed.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;


TEST(FileOverLoopback, AnOfferedFileArrivesByteForByteAndTheQueueStaysBounded) {
    test::TempFolder temp;
    std::string content(12'000'000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7919) >> 3);
    test::write_file(temp / "movie.mov", content);

    FileTransfers table;
    auto offer = register_file_offer(table, temp / "movie.mov");
    ASSERT_TRUE(offer);
    auto path = find_offered_file(table, offer->id);
    ASSERT_TRUE(path);

    LoopbackLink link = loopback_link();
    auto writer = start_link_writer(std::move(link.host_end));
    ASSERT_TRUE(writer);
    Key32 key;
    key.fill(0x42);
    writer->send(WriterItem::install_key(key, 0));

    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> most_queued{0};
    std::thread sampler([&] {
        while (!done) {
            std::uint64_t now = writer->queued_bytes();
            if (now > most_queued) most_queued = now;
            std::this_thread::sleep_for(1ms);
        }
    });
    auto sender = std::async(std::launch::async, [&] {
        return send_file(*writer, offer->id, *path, "keep", true, *system_file_system());
    });

    // The reader starts late and takes its time.
    std::this_thread::sleep_for(150ms);
    FrameReader reader(link.device_end);
    SealingKey receive(key);
    std::string received;
    std::vector<std::string> order;
    bool ended_ok = false;
    while (true) {
        auto sealed = reader.next();
        ASSERT_TRUE(sealed);
        auto inner = open_frame(receive, sealed->body);
        ASSERT_TRUE(inner);
        if (inner->type == FrameType::FileData) {
            auto piece = read_file_piece(inner->body);
            ASSERT_TRUE(piece);
            EXPECT_EQ(piece->id, offer->id);
            received += to_string(piece->bytes);
            if (order.empty() || order.back() != "piece") order.push_back("piece");
            std::this_thread::sleep_for(1ms);
            continue;
        }
        ASSERT_EQ(inner->type, FrameType::Control);
        auto json = parse_json(inner->body, DuplicateKeys::refuse);
        ASSERT_TRUE(json.ok());
        order.push_back(json->begin().key());
        if (json->contains("fileEnd")) {
            ended_ok = (*json)["fileEnd"]["ok"].get<bool>();
            break;
        }
    }
    EXPECT_TRUE(sender.get());
    done = true;
    sampler.join();
    EXPECT_EQ(order, (std::vector<std::string>{"fileStart", "piece", "fileEnd"}));
    EXPECT_TRUE(ended_ok);
    EXPECT_TRUE(received == content);
    // The late reader let the queue fill to the limit, and no further.
    EXPECT_GT(most_queued.load(), kFileQueueLimit / 2);
    EXPECT_LE(most_queued.load(), kFileQueueLimit + kFilePieceSize + 4 + 200);
    close_and_wait_for_writer(*writer, 5s);
}

}  // namespace
}  // namespace vorlix
