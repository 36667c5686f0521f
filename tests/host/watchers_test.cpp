#include "host/watchers.h"

#include "control/messages.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

std::vector<std::string> drain(Receiver<WriterItem>& items) {
    std::vector<std::string> out;
    while (auto item = items.try_receive()) {
        if (item->kind == WriterItem::Kind::Frame) out.push_back(to_string(item->bytes));
    }
    return out;
}

TEST(WebWatcherRegistry, AJoiningLinkGetsTheLastStreamInfoThenAKeyFrameIsAsked) {
    WebWatcherRegistry registry;
    int key_frames = 0;
    bool lock_free_during_callback = false;
    registry.key_frame_callback = [&] {
        ++key_frames;
        lock_free_during_callback = registry.size() == 1;  // takes the lock: would deadlock if held
    };
    auto [first, first_items] = LinkWriter::make();
    add_stream_watcher(registry, first, 1, "Tablet", false);
    EXPECT_TRUE(drain(first_items).empty());  // no stream information yet
    EXPECT_EQ(key_frames, 1);
    EXPECT_TRUE(lock_free_during_callback);

    registry.lock(), registry.last_stream_info = R"({"streamInfo":{}})";
    auto [second, second_items] = LinkWriter::make();
    add_stream_watcher(registry, second, 2, "Browser", true);
    EXPECT_EQ(drain(second_items), std::vector<std::string>{R"({"streamInfo":{}})"});
    EXPECT_EQ(registry.size(), 2u);
    EXPECT_EQ(registry.browser_count(), 1u);
    EXPECT_EQ(second.queued_bytes(), std::string(R"({"streamInfo":{}})").size());

    // The same session joining again replaces its entry.
    add_stream_watcher(registry, second, 2, "Browser again", true);
    EXPECT_EQ(registry.size(), 2u);
    EXPECT_EQ(watcher_names(registry), (std::vector<std::string>{"Browser again", "Tablet"}));

    clear_stream_info(registry);
    EXPECT_FALSE(registry.last_stream_info);
    remove_watcher_entry(registry, 1);
    EXPECT_EQ(watcher_names(registry), std::vector<std::string>{"Browser again"});
}

TEST(WebWatcherRegistry, BroadcastReachesEveryRunningWatcherInOrder) {
    WebWatcherRegistry registry;
    auto [a, a_items] = LinkWriter::make();
    auto [b, b_items] = LinkWriter::make();
    add_stream_watcher(registry, a, 1, "A", false);
    add_stream_watcher(registry, b, 2, "B", true);
    b.running_flag()->store(false);  // this link's writer has stopped
    broadcast_control_message(registry, control::Bye{});
    EXPECT_EQ(drain(a_items), std::vector<std::string>{"{\"bye\":{}}"});
    EXPECT_TRUE(drain(b_items).empty());
    EXPECT_EQ(b.queued_bytes(), 0u);
}

}  // namespace
}  // namespace vorlix
