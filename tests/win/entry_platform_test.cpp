// WindowsPlatform's own state: the data folder, the event slot, the stream
// operations without a stream, and the services of this build (system
// information, DPAPI, shell folders).
#include <gtest/gtest.h>

#include "win/platform.h"
#include "win/system/shell.h"
#include "win/system/system_info.h"

namespace vorlix {
namespace {

TEST(EntryPlatform, DataFolderAndSystemInformation) {
    auto platform = platform_new(DataFolder{std::filesystem::path(L"C:\\Data\\Host"), 1});
    const DataFolder folder = platform->data_dir();
    EXPECT_EQ(folder.path, std::filesystem::path(L"C:\\Data\\Host"));
    EXPECT_EQ(folder.from_command_line, 1);
    EXPECT_EQ(platform->computer_name(), read_computer_name());
    EXPECT_EQ(platform->computer_model(), read_computer_model());
    EXPECT_EQ(platform->downloads_dir(), downloads_folder());
    EXPECT_EQ(platform->screenshots_dir(), find_screenshots_folder());
    EXPECT_TRUE(platform->supports_menus());
    EXPECT_TRUE(platform->supports_keyboard_layout());
}

TEST(EntryPlatform, ProtectsIdentityBytes) {
    auto platform = platform_new(DataFolder{"C:\\x", 0});
    const Bytes seed(32, 0x5A);
    const Bytes stored = platform->protect_data(seed);
    EXPECT_NE(stored, seed);
    EXPECT_EQ(platform->unprotect_data(stored), seed);
    EXPECT_EQ(platform->unprotect_data(seed), seed);
    EXPECT_FALSE(platform->unprotect_data(Bytes(33, 0x5A)));
}

TEST(EntryPlatform, StreamOperationsWithoutAStreamDoNothing) {
    auto platform = platform_new(DataFolder{"C:\\x", 0});
    platform->stop_stream();
    platform->request_keyframe();
    platform->set_stream_audio(true);
    EXPECT_EQ(platform->current_stream(), nullptr);
}

TEST(EntryPlatform, EventHandlerIsReplacedWhole) {
    auto platform = platform_new(DataFolder{"C:\\x", 0});
    auto slot = platform->event_slot();
    ASSERT_TRUE(slot);
    {
        std::lock_guard lock(slot->mutex);
        EXPECT_FALSE(slot->handler);
    }
    auto first_alive = std::make_shared<int>(1);
    std::weak_ptr<int> first_watch = first_alive;
    platform->set_event_handler([keep = std::move(first_alive)](PlatformEvent) {});
    EXPECT_FALSE(first_watch.expired());
    std::vector<std::filesystem::path> delivered;
    platform->set_event_handler([&](PlatformEvent event) { delivered.push_back(std::get<std::filesystem::path>(event)); });
    // The old handler (and what it held) is released when replaced.
    EXPECT_TRUE(first_watch.expired());

    deliver_event(*slot, PlatformEvent{std::filesystem::path("C:\\a.txt")});
    EXPECT_EQ(delivered, std::vector<std::filesystem::path>{"C:\\a.txt"});
}

TEST(EntryPlatform, EventsWithoutAHandlerAreDropped) {
    auto platform = platform_new(DataFolder{"C:\\x", 0});
    deliver_event(*platform->event_slot(), PlatformEvent{std::filesystem::path("C:\\early.txt")});
    std::vector<std::filesystem::path> delivered;
    platform->set_event_handler([&](PlatformEvent event) { delivered.push_back(std::get<std::filesystem::path>(event)); });
    // The event from before the handler is not kept for it.
    EXPECT_TRUE(delivered.empty());
}

}  // namespace
}  // namespace vorlix
