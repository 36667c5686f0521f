#include "host/link_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "support/loopback_link.h"
#include "wire/sealed.h"
#include "support/wait.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;


Key32 test_key(std::uint8_t fill) {
    Key32 key;
    key.fill(fill);
    return key;
}

TEST(LinkWriter, WritesRawThenSealsFramesInQueueOrder) {
    LoopbackLink link = loopback_link();
    const auto baseline = running_writer_threads();
    auto writer = start_link_writer(std::move(link.host_end));
    ASSERT_TRUE(writer);
    EXPECT_TRUE(writer->running());

    // A frame before the key is dropped, yet taken off the counters.
    EXPECT_TRUE(writer->send_frame(FrameType::Control, to_bytes("too early")));
    EXPECT_TRUE(writer->send(WriterItem::raw(encode_plain_frame(FrameType::Hello, to_bytes("{}")))));
    EXPECT_TRUE(writer->send(WriterItem::install_key(test_key(7), 0)));
    EXPECT_TRUE(writer->send_frame(FrameType::Control, to_bytes("first")));
    EXPECT_TRUE(writer->send_video_frame(FrameType::Video, Bytes(1000, 0xAB)));
    EXPECT_TRUE(writer->send_frame(FrameType::Control, to_bytes("last")));

    FrameReader reader(link.device_end);
    auto hello = reader.next();
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->type, FrameType::Hello);
    SealingKey receive(test_key(7));
    std::vector<std::pair<FrameType, std::size_t>> seen;
    for (int i = 0; i < 3; ++i) {
        auto sealed = reader.next();
        ASSERT_TRUE(sealed);
        ASSERT_EQ(sealed->type, FrameType::Sealed);
        auto inner = open_frame(receive, sealed->body);
        ASSERT_TRUE(inner) << "frame " << i;
        seen.emplace_back(inner->type, inner->body.size());
    }
    EXPECT_EQ(seen[0], std::make_pair(FrameType::Control, std::size_t{5}));
    EXPECT_EQ(seen[1], std::make_pair(FrameType::Video, std::size_t{1000}));
    EXPECT_EQ(seen[2], std::make_pair(FrameType::Control, std::size_t{4}));
    EXPECT_TRUE(wait_until([&] { return writer->queued_bytes() == 0 && writer->queued_video_frames() == 0; }));

    close_and_wait_for_writer(*writer, 5s);
    EXPECT_FALSE(writer->running());
    EXPECT_FALSE(reader.next(2s));  // the link was shut down
    EXPECT_TRUE(wait_until([&] { return running_writer_threads() == baseline; }));
    // A stopped writer takes nothing and counts nothing.
    EXPECT_FALSE(writer->send_frame(FrameType::Control, to_bytes("after")));
    queue_control_bytes(*writer, "{\"bye\":{}}");
    EXPECT_EQ(writer->queued_bytes(), 0u);
}

TEST(LinkWriter, ABrokenWriteDrainsTheQueueAndTheCountersReturnToZero) {
    auto [writer, receiver] = LinkWriter::make();
    LoopbackLink link = loopback_link();
    auto spare = link.host_end.duplicate();
    ASSERT_TRUE(spare);
    spare->shutdown_both();  // every write on this link now fails

    writer.send(WriterItem::install_key(test_key(1), 0));
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(writer.send_video_frame(FrameType::Video, Bytes(100, 1)));
        ASSERT_TRUE(writer.send_frame(FrameType::Control, Bytes(10, 2)));
    }
    EXPECT_EQ(writer.queued_bytes(), 20u * 110u);
    EXPECT_EQ(writer.queued_video_frames(), 20u);

    std::thread thread(run_link_writer, std::move(receiver), std::move(link.host_end), writer);
    EXPECT_TRUE(wait_until([&] { return !writer.running(); }));
    EXPECT_TRUE(wait_until([&] { return writer.queued_bytes() == 0 && writer.queued_video_frames() == 0; }));
    // Producers see the flag and stop; nothing more is counted.
    EXPECT_FALSE(writer.send_frame(FrameType::Control, Bytes(10, 2)));
    EXPECT_EQ(writer.queued_bytes(), 0u);
    writer.send(WriterItem::close());
    thread.join();
}

TEST(LinkWriter, CloseEndsTheWriterWithItemsStillQueuedAndUncountsThem) {
    auto [writer, receiver] = LinkWriter::make();
    LoopbackLink link = loopback_link();
    writer.send(WriterItem::install_key(test_key(3), 0));
    writer.send(WriterItem::close());
    for (int i = 0; i < 5; ++i) writer.send_frame(FrameType::Control, Bytes(50, 0));
    EXPECT_EQ(writer.queued_bytes(), 250u);
    std::thread thread(run_link_writer, std::move(receiver), std::move(link.host_end), writer);
    thread.join();
    EXPECT_FALSE(writer.running());
    EXPECT_EQ(writer.queued_bytes(), 0u);
    FrameReader reader(link.device_end);
    EXPECT_FALSE(reader.next(2s));  // nothing behind Close was written
}

TEST(LinkWriter, EndsWhenTheLastSenderIsReleased) {
    auto [writer, receiver] = LinkWriter::make();
    LoopbackLink link = loopback_link();
    auto flag = writer.running_flag();
    std::thread thread(run_link_writer, std::move(receiver), std::move(link.host_end), writer);
    writer = LinkWriter();
    thread.join();
    EXPECT_FALSE(flag->load());
}

TEST(LinkWriter, CloseAndWaitGivesUpAfterTheLimit) {
    auto [writer, receiver] = LinkWriter::make();  // no thread: it never stops
    auto start = std::chrono::steady_clock::now();
    close_and_wait_for_writer(writer, 60ms);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 60ms);
    EXPECT_LT(waited, 2s);
    EXPECT_TRUE(writer.running());
}

}  // namespace
}  // namespace vorlix
