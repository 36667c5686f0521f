#include <gtest/gtest.h>

#include "files/file_transfers.h"
#include "memory_file_system.h"
#include "storage/log_capture.h"
#include "storage/temp_folder.h"

namespace vorlix {
namespace {

using Kind = IncomingOutcome::Kind;
using test::MemoryFileSystem;

Bytes bytes_of(const std::string& text) { return to_bytes(text); }

std::vector<std::string> names_in(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(file_name_text(entry.path()));
    std::sort(names.begin(), names.end());
    return names;
}

// On the system's own files, in a temporary Downloads folder.
struct IncomingOnDisk : ::testing::Test {
    test::TempFolder temp;
    std::filesystem::path downloads = temp.path() / "Downloads";
    FileTransfers table;
};

TEST_F(IncomingOnDisk, WholeFilesAreKeptAndNamesNeverReplaceEachOther) {
    begin_incoming_file(table, downloads, 1, "photo.jpg", 6);
    begin_incoming_file(table, downloads, 2, "sub/photo.jpg", 3);
    write_incoming_chunk(table, 1, bytes_of("abc"));
    write_incoming_chunk(table, 2, bytes_of("xyz"));
    write_incoming_chunk(table, 1, bytes_of("def"));
    IncomingOutcome first = finish_incoming_file(table, 1, true);
    IncomingOutcome second = finish_incoming_file(table, 2, true);
    ASSERT_EQ(first.kind, Kind::saved);
    ASSERT_EQ(second.kind, Kind::saved);
    EXPECT_EQ(first.path, downloads / "photo.jpg");
    EXPECT_EQ(second.path, downloads / "photo 2.jpg");
    EXPECT_EQ(test::read_file(first.path), "abcdef");
    EXPECT_EQ(test::read_file(second.path), "xyz");

    begin_incoming_file(table, downloads, 3, "photo.jpg", 0);
    IncomingOutcome third = finish_incoming_file(table, 3, true);
    EXPECT_EQ(third.path, downloads / "photo 3.jpg");
    EXPECT_EQ(names_in(downloads), (std::vector<std::string>{"photo 2.jpg", "photo 3.jpg", "photo.jpg"}));
    // Past the numbers tried first, the folder's listing finds the next free one.
    for (unsigned n = 1; n <= 80; ++n) test::write_file(unique_destination_path(downloads, "scan.pdf", n), "");
    begin_incoming_file(table, downloads, 4, "scan.pdf", 0);
    EXPECT_EQ(finish_incoming_file(table, 4, true).path, downloads / "scan 81.pdf");
}

TEST_F(IncomingOnDisk, FilesThatDoNotArriveWholeAreDeleted) {
    // One byte more than announced: deleted at that piece; its fileEnd finds nothing.
    begin_incoming_file(table, downloads, 1, "over.bin", 4);
    write_incoming_chunk(table, 1, bytes_of("abc"));
    write_incoming_chunk(table, 1, bytes_of("de"));
    EXPECT_FALSE(std::filesystem::exists(downloads / "over.bin"));
    EXPECT_EQ(finish_incoming_file(table, 1, true).kind, Kind::none);

    // One byte less, or ok false: deleted at fileEnd, reported incomplete.
    begin_incoming_file(table, downloads, 2, "short.bin", 4);
    write_incoming_chunk(table, 2, bytes_of("abc"));
    EXPECT_TRUE(std::filesystem::exists(downloads / "short.bin"));
    EXPECT_EQ(finish_incoming_file(table, 2, true).kind, Kind::incomplete);
    begin_incoming_file(table, downloads, 3, "denied.bin", 1);
    write_incoming_chunk(table, 3, bytes_of("a"));
    EXPECT_EQ(finish_incoming_file(table, 3, false).kind, Kind::incomplete);

    // The session ends in the middle of a transfer.
    begin_incoming_file(table, downloads, 4, "abandoned.bin", 10);
    write_incoming_chunk(table, 4, bytes_of("abc"));
    drop_incoming_files(table);
    EXPECT_EQ(finish_incoming_file(table, 4, true).kind, Kind::none);
    EXPECT_TRUE(names_in(downloads).empty());
    // Pieces for ids that are not open are ignored.
    write_incoming_chunk(table, 99, bytes_of("zz"));
}

TEST_F(IncomingOnDisk, ASecondStartWithTheSameIdReplacesTheFirst) {
    begin_incoming_file(table, downloads, 5, "one.txt", 3);
    write_incoming_chunk(table, 5, bytes_of("111"));
    begin_incoming_file(table, downloads, 5, "two.txt", 3);
    write_incoming_chunk(table, 5, bytes_of("222"));
    EXPECT_EQ(finish_incoming_file(table, 5, true).kind, Kind::saved);
    EXPECT_EQ(names_in(downloads), (std::vector<std::string>{"two.txt"}));
    EXPECT_EQ(test::read_file(downloads / "two.txt"), "222");
}

TEST_F(IncomingOnDisk, RefusedFilesCreateNothingAndTheirEndIsReported) {
    begin_incoming_file(table, downloads, 7, "huge.bin", kMaxTransferFileSize + 1);
    write_incoming_chunk(table, 7, bytes_of("a"));
    EXPECT_FALSE(std::filesystem::exists(downloads / "huge.bin"));
    EXPECT_EQ(finish_incoming_file(table, 7, true).kind, Kind::incomplete);
    EXPECT_EQ(finish_incoming_file(table, 7, true).kind, Kind::none);  // told once

    // The largest size is taken.
    begin_incoming_file(table, downloads, 8, "big.bin", kMaxTransferFileSize);
    EXPECT_TRUE(std::filesystem::exists(downloads / "big.bin"));
    drop_incoming_files(table);
    EXPECT_FALSE(std::filesystem::exists(downloads / "big.bin"));
}

TEST_F(IncomingOnDisk, OverlongAndReservedNamesAreCreated) {
    begin_incoming_file(table, downloads, 1, std::string(300, 'L') + ".txt", 2);
    write_incoming_chunk(table, 1, bytes_of("ok"));
    IncomingOutcome saved = finish_incoming_file(table, 1, true);
    ASSERT_EQ(saved.kind, Kind::saved);
    EXPECT_EQ(file_name_text(saved.path), std::string(kMaxSafeNameUnits - 4, 'L') + ".txt");
    EXPECT_EQ(test::read_file(saved.path), "ok");

    begin_incoming_file(table, downloads, 2, "CON", 0);
    EXPECT_EQ(finish_incoming_file(table, 2, true).path, downloads / "_CON");
}

TEST_F(IncomingOnDisk, OnlySoManyFilesMayBeOpenAtOnce) {
    test::LogCapture log;
    for (std::uint64_t id = 0; id < kMaxOpenIncomingFiles; ++id) {
        begin_incoming_file(table, downloads, id, "f" + std::to_string(id), 1);
    }
    begin_incoming_file(table, downloads, 1000, "one too many", 1);
    EXPECT_FALSE(std::filesystem::exists(downloads / "one too many"));
    EXPECT_NE(log.messages().find("file from the device: 64 files are coming in already; refused one more"),
              std::string::npos);
    EXPECT_EQ(finish_incoming_file(table, 1000, true).kind, Kind::incomplete);
    // Restarting an open id is no extra file.
    begin_incoming_file(table, downloads, 3, "f3 again", 1);
    EXPECT_TRUE(std::filesystem::exists(downloads / "f3 again"));
    // Once one finishes there is room again.
    write_incoming_chunk(table, 0, bytes_of("x"));
    EXPECT_EQ(finish_incoming_file(table, 0, true).kind, Kind::saved);
    begin_incoming_file(table, downloads, 1001, "now it fits", 1);
    EXPECT_TRUE(std::filesystem::exists(downloads / "now it fits"));
    drop_incoming_files(table);
    EXPECT_EQ(names_in(downloads), (std::vector<std::string>{"f0"}));
}

// With failures injected.
struct IncomingWithFailures : ::testing::Test {
    std::shared_ptr<MemoryFileSystem> files = std::make_shared<MemoryFileSystem>();
    FileTransfers table;
    const std::filesystem::path folder = "D";
    void SetUp() override { table.files = files; }
};

TEST_F(IncomingWithFailures, CreationFailuresAreLoggedAndReported) {
    test::LogCapture log;
    files->fail_create = true;
    begin_incoming_file(table, folder, 1, "a.txt", 1);
    EXPECT_TRUE(files->folders.contains("D"));
    EXPECT_NE(log.messages().find("file from the device: could not create D"), std::string::npos);
    EXPECT_NE(log.messages().find("a.txt: disk on fire"), std::string::npos);
    EXPECT_EQ(finish_incoming_file(table, 1, true).kind, Kind::incomplete);
}

TEST_F(IncomingWithFailures, NamesGoOnFromWhereTheLastSearchStoppedAndTakeOneOfTheirOwnOnlyWhenAllAreTaken) {
    test::LogCapture log;
    const auto saved_as = [&](FileTransfers& on, const std::filesystem::path& in, std::string_view name) {
        begin_incoming_file(on, in, 1, name, 0);
        return finish_incoming_file(on, 1, true).path;
    };
    for (std::uint64_t id = 1; id <= 100; ++id) saved_as(table, folder, "a.txt");
    EXPECT_TRUE(files->exists(folder / "a 100.txt"));
    EXPECT_LE(files->creates, 2 * 100);
    EXPECT_EQ(saved_as(table, "E", "a.txt"), std::filesystem::path("E") / "a.txt");  // another folder's numbers

    // After a restart, with the numbers to 100 on disk: one listing, then on from there.
    FileTransfers restarted;
    restarted.files = files;
    for (unsigned n = 1; n <= 100; ++n) files->put(unique_destination_path(folder, "image.jpg", n), "");
    files->creates = 0;
    for (unsigned n = 101; n <= 105; ++n) {
        EXPECT_EQ(saved_as(restarted, folder, "image.jpg"), folder / ("image " + std::to_string(n) + ".jpg"));
    }
    EXPECT_LE(files->creates, static_cast<int>(kMaxNameTries) + 1 + 4 * 2);

    // A folder that cannot be listed: a name of its own, and the next file goes on where that search stopped.
    files->fail_list = true;
    for (unsigned n = 1; n <= 200; ++n) files->put(unique_destination_path(folder, "c.txt", n), "");
    saved_as(table, folder, "c.txt");
    EXPECT_EQ(saved_as(table, folder, "c.txt"), folder / "c 201.txt");
    files->fail_list = false;

    // Every numbered name taken: a bounded search, then a name of its own.
    for (unsigned attempt = 1; attempt <= kMaxDestinationAttempts; ++attempt) {
        files->put(unique_destination_path(folder, "x.txt", attempt), "");
    }
    files->creates = 0;
    begin_incoming_file(table, folder, 1, "x.txt", 0);
    EXPECT_EQ(files->creates, static_cast<int>(kMaxNameTries) + 1);
    const std::string own = file_name_text(finish_incoming_file(table, 1, true).path);
    EXPECT_EQ(own.size(), std::string("x 0123456789abcdef.txt").size()) << own;
    EXPECT_EQ(log.messages(), "");
    files->fail_create = true;  // and when even that cannot be created, a refusal
    begin_incoming_file(table, folder, 2, "x.txt", 0);
    EXPECT_NE(log.messages().find("file from the device: could not create D"), std::string::npos);
    EXPECT_NE(log.messages().find(".txt: disk on fire"), std::string::npos);
    EXPECT_EQ(finish_incoming_file(table, 2, true).kind, Kind::incomplete);
}

TEST_F(IncomingWithFailures, WriteAndFlushFailuresDeleteTheFile) {
    begin_incoming_file(table, folder, 1, "w.bin", 4);
    files->fail_write = true;
    write_incoming_chunk(table, 1, bytes_of("ab"));
    EXPECT_FALSE(files->exists(folder / "w.bin"));
    EXPECT_EQ(finish_incoming_file(table, 1, true).kind, Kind::none);

    files->fail_write = false;
    files->fail_flush = true;
    begin_incoming_file(table, folder, 2, "f.bin", 2);
    write_incoming_chunk(table, 2, bytes_of("ab"));
    EXPECT_EQ(finish_incoming_file(table, 2, true).kind, Kind::incomplete);
    EXPECT_FALSE(files->exists(folder / "f.bin"));
    EXPECT_EQ(files->removed, 2);
}

TEST(FileOffers, OneOfferAtATimeWithIdsSharedWithScreenshots) {
    auto files = std::make_shared<MemoryFileSystem>();
    FileTransfers table;
    table.files = files;
    files->put("pc/a.txt", "hello");
    files->put("pc/b.txt", "");
    files->put("pc/huge", "");

    auto first = register_file_offer(table, "pc/a.txt");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, 1u);
    EXPECT_EQ(first->name, "a.txt");
    EXPECT_EQ(first->size, 5u);
    EXPECT_EQ(find_offered_file(table, 1), std::filesystem::path("pc/a.txt"));
    EXPECT_EQ(take_transfer_id(table), 2u);
    auto second = register_file_offer(table, "pc/b.txt");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->id, 3u);
    EXPECT_FALSE(find_offered_file(table, 1));
    EXPECT_FALSE(register_file_offer(table, "pc/missing"));
    EXPECT_TRUE(find_offered_file(table, 3));  // a refused file changes nothing

    drop_incoming_files(table);
    EXPECT_FALSE(find_offered_file(table, 3));
    EXPECT_EQ(take_transfer_id(table), 4u);  // the counter is kept
}

TEST(FileOffers, OnlyPlainFilesOfAtMostTwoGigabytesOnDisk) {
    test::TempFolder temp;
    FileTransfers table;
    std::filesystem::create_directory(temp / "folder");
    EXPECT_FALSE(register_file_offer(table, temp / "folder"));
    test::write_file(temp / "f.txt", "12345");
    {
        std::filesystem::resize_file(temp / "f.txt", kMaxTransferFileSize);
        auto offer = register_file_offer(table, temp / "f.txt");
        ASSERT_TRUE(offer);
        EXPECT_EQ(offer->size, kMaxTransferFileSize);
    }
    std::filesystem::resize_file(temp / "f.txt", kMaxTransferFileSize + 1);
    EXPECT_FALSE(register_file_offer(table, temp / "f.txt"));
    table.next_id = 0;
    EXPECT_EQ(take_transfer_id(table), 1u);
}

}  // namespace
}  // namespace vorlix
