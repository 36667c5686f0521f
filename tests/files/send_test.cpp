#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "files/file_send.h"
#include "files/file_transfers.h"
#include "json/base64.h"
#include "json/json.h"
#include "memory_file_system.h"
#include "storage/temp_folder.h"
#include "wire/sealed.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;
using test::MemoryFileSystem;

// What a sender queued, read back from the writer's queue.
struct Sent {
    std::vector<Json> messages;      // control messages in order
    std::vector<std::string> order;  // "fileStart", "piece", "fileChunk", "fileEnd"
    std::vector<std::size_t> piece_sizes;
    std::vector<std::uint32_t> piece_ids;
    std::string content;             // bytes of all pieces in order
    std::uint64_t body_bytes = 0;    // every frame body, as the writer counts them
};

Sent drain(Receiver<WriterItem>& items) {
    Sent sent;
    while (auto item = items.try_receive()) {
        EXPECT_EQ(item->kind, WriterItem::Kind::Frame);
        sent.body_bytes += item->bytes.size();
        if (item->type == FrameType::FileData) {
            auto piece = read_file_piece(item->bytes);
            EXPECT_TRUE(piece);
            sent.order.push_back("piece");
            sent.piece_ids.push_back(piece->id);
            sent.piece_sizes.push_back(piece->bytes.size());
            sent.content += to_string(piece->bytes);
            continue;
        }
        EXPECT_EQ(item->type, FrameType::Control);
        auto json = parse_json(item->bytes, DuplicateKeys::refuse);
        EXPECT_TRUE(json.ok());
        const std::string name = json->begin().key();
        sent.order.push_back(name);
        if (name == "fileChunk") {
            auto data = base64_decode((*json)["fileChunk"]["data"].get<std::string>());
            EXPECT_TRUE(data);
            sent.piece_sizes.push_back(data->size());
            sent.content += to_string(*data);
        }
        sent.messages.push_back(*json);
    }
    return sent;
}

std::string pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return text;
}

struct Sending : ::testing::Test {
    std::shared_ptr<MemoryFileSystem> files = std::make_shared<MemoryFileSystem>();
    LinkWriter writer;
    Receiver<WriterItem> items;
    void SetUp() override { std::tie(writer, items) = LinkWriter::make(); }
};

TEST_F(Sending, MessagesAreWrittenWithTheirKeysInOrder) {
    EXPECT_EQ(encode_control_message(file_start_message(3, "a\"b.txt", 10, "keep")),
              "{\"fileStart\":{\"id\":3,\"name\":\"a\\\"b.txt\",\"purpose\":\"keep\",\"size\":10}}");
    EXPECT_EQ(encode_control_message(file_chunk_message(4, to_bytes("hi"))), "{\"fileChunk\":{\"data\":\"aGk=\",\"id\":4}}");
    EXPECT_EQ(encode_control_message(file_end_message(5, false)), "{\"fileEnd\":{\"id\":5,\"ok\":false}}");
}

TEST_F(Sending, PiecesAreFullSizedBinaryFramesWithTheIdInFront) {
    const std::string content = pattern(2 * kFilePieceSize);
    files->put("pc/two.bin", content);
    EXPECT_TRUE(send_file(writer, 0x01020304, "pc/two.bin", "keep", true, *files));
    Sent sent = drain(items);
    EXPECT_EQ(sent.order, (std::vector<std::string>{"fileStart", "piece", "piece", "fileEnd"}));
    EXPECT_EQ(sent.piece_sizes, (std::vector<std::size_t>{kFilePieceSize, kFilePieceSize}));
    EXPECT_EQ(sent.piece_ids, (std::vector<std::uint32_t>{0x01020304, 0x01020304}));
    EXPECT_EQ(sent.content, content);
    EXPECT_EQ(sent.messages[0]["fileStart"]["name"], "two.bin");
    EXPECT_EQ(sent.messages[0]["fileStart"]["size"], 2 * kFilePieceSize);
    EXPECT_EQ(sent.messages[0]["fileStart"]["purpose"], "keep");
    EXPECT_EQ(sent.messages[1]["fileEnd"]["ok"], true);
    // Every queued body was counted (no writer ran to take them off).
    EXPECT_EQ(writer.queued_bytes(), sent.body_bytes);
}

TEST_F(Sending, WithoutBinaryFilesOrWithLargeIdsPiecesAreChunkMessages) {
    const std::string content = pattern(kFilePieceSize + 5);
    files->put("pc/x", content);
    EXPECT_TRUE(send_file(writer, 7, "pc/x", "keep", false, *files));
    Sent sent = drain(items);
    EXPECT_EQ(sent.order, (std::vector<std::string>{"fileStart", "fileChunk", "fileChunk", "fileEnd"}));
    EXPECT_EQ(sent.content, content);

    send_bytes_as_file(writer, std::uint64_t{1} << 32, "big id.png", to_bytes("png"), "screenshot", true);
    sent = drain(items);
    EXPECT_EQ(sent.order, (std::vector<std::string>{"fileStart", "fileChunk", "fileEnd"}));
    EXPECT_EQ(sent.messages[0]["fileStart"]["id"], std::int64_t{1} << 32);
    EXPECT_EQ(sent.content, "png");
}

TEST_F(Sending, EmptyUnopenableAndNamelessFiles) {
    files->put("pc/empty", "");
    EXPECT_TRUE(send_file(writer, 1, "pc/empty", "keep", true, *files));
    Sent sent = drain(items);
    EXPECT_EQ(sent.order, (std::vector<std::string>{"fileStart", "fileEnd"}));
    EXPECT_EQ(sent.messages[0]["fileStart"]["size"], 0);
    EXPECT_EQ(sent.messages[1]["fileEnd"]["ok"], true);

    send_bytes_as_file(writer, 2, "nothing", {}, "screenshot", true);
    EXPECT_EQ(drain(items).order, (std::vector<std::string>{"fileStart", "fileEnd"}));

    files->put("pc/locked", "x");
    files->refuse_open.insert("pc/locked");
    EXPECT_FALSE(send_file(writer, 3, "pc/locked", "keep", true, *files));
    EXPECT_FALSE(send_file(writer, 3, "pc/missing", "keep", true, *files));
    EXPECT_TRUE(drain(items).order.empty());

    files->put("", "abc");  // a path without a last component
    EXPECT_TRUE(send_file(writer, 4, "", "keep", true, *files));
    sent = drain(items);
    EXPECT_EQ(sent.messages[0]["fileStart"]["name"], "File");
}

TEST_F(Sending, ReadErrorsMakeShorterPiecesAndUnreadableSizesEndNotOk) {
    const std::string content = pattern(180'000);
    files->put("pc/flaky", content);
    files->fail_read_after_first = true;
    EXPECT_TRUE(send_file(writer, 1, "pc/flaky", "keep", true, *files));
    Sent sent = drain(items);
    EXPECT_EQ(sent.content, content);
    EXPECT_GT(sent.piece_sizes.size(), 1u);
    EXPECT_LT(sent.piece_sizes[0], kFilePieceSize);

    files->fail_read_after_first = false;
    files->size_unreadable = true;
    EXPECT_FALSE(send_file(writer, 2, "pc/flaky", "keep", true, *files));
    sent = drain(items);
    EXPECT_EQ(sent.messages.front()["fileStart"]["size"], 0);
    EXPECT_EQ(sent.messages.back()["fileEnd"]["ok"], false);
    EXPECT_EQ(sent.content, content);
}

TEST_F(Sending, OnDiskFilesOfTheLargestSizeAreSentAndLargerOnesAreNot) {
    test::TempFolder temp;
    test::write_file(temp / "over", "");
    std::filesystem::resize_file(temp / "over", kMaxTransferFileSize + 1);
    EXPECT_FALSE(send_file(writer, 1, temp / "over", "keep", true, *system_file_system()));
    EXPECT_TRUE(drain(items).order.empty());

    // The largest file is taken; the writer stops after its first piece.
    std::filesystem::resize_file(temp / "over", kMaxTransferFileSize);
    writer.queued_bytes_counter()->store(kFileQueueLimit + 1);
    auto result = std::async(std::launch::async, [&] {
        return send_file(writer, 2, temp / "over", "keep", true, *system_file_system());
    });
    EXPECT_EQ(result.wait_for(100ms), std::future_status::timeout);  // waiting for room
    writer.running_flag()->store(false);
    EXPECT_FALSE(result.get());
    Sent sent = drain(items);
    EXPECT_EQ(sent.order, (std::vector<std::string>{"fileStart"}));  // no fileEnd
    EXPECT_EQ(sent.messages[0]["fileStart"]["size"], kMaxTransferFileSize);
}

TEST_F(Sending, TheQueueStaysBoundedWhileNobodyTakesFromIt) {
    const std::string content = pattern(6'000'000);
    auto sender = std::async(std::launch::async, [&] {
        send_bytes_as_file(writer, 9, "big.bin", to_bytes(content), "screenshot", true);
    });
    // Nothing is written: the sender fills the queue to the limit and waits.
    std::uint64_t queued = 0;
    for (int i = 0; i < 500 && queued <= kFileQueueLimit; ++i) {
        std::this_thread::sleep_for(2ms);
        queued = writer.queued_bytes();
    }
    EXPECT_GT(queued, kFileQueueLimit);
    // A sender that did not wait would be done within its next few looks.
    EXPECT_EQ(sender.wait_for(5 * kFileQueuePause), std::future_status::timeout);
    EXPECT_LE(writer.queued_bytes(), kFileQueueLimit + kFilePieceSize + 4 + 200);

    // Taking items as a writer does lets the rest through.
    Sent sent;
    while (sender.wait_for(0ms) != std::future_status::ready || writer.queued_bytes() > 0) {
        auto item = items.receive_for(50ms);
        if (!item) continue;
        writer.queued_bytes_counter()->fetch_sub(item->bytes.size());
        if (item->type == FrameType::FileData) sent.content += to_string(read_file_piece(item->bytes)->bytes);
    }
    EXPECT_EQ(sent.content, content);
}

}  // namespace
}  // namespace vorlix
