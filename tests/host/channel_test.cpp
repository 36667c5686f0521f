#include "host/channel.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace vorlix {
namespace {

using namespace std::chrono_literals;

TEST(Channel, DeliversInOrderAndEndsWhenEverySenderIsGone) {
    auto [sender, receiver] = make_channel<std::string>();
    Sender<std::string> second = sender;
    EXPECT_FALSE(sender.send("a"));
    EXPECT_FALSE(second.send("b"));
    sender.reset();
    EXPECT_EQ(receiver.receive(), "a");
    EXPECT_EQ(receiver.receive(), "b");
    EXPECT_FALSE(receiver.try_receive());
    second.reset();
    EXPECT_FALSE(receiver.receive());  // returns at once: no sender left
}

TEST(Channel, SendAfterTheReceiverClosedGivesTheItemBack) {
    auto [sender, receiver] = make_channel<std::string>();
    EXPECT_FALSE(sender.send("queued"));
    auto left = receiver.close();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left.front(), "queued");
    auto back = sender.send("late");
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, "late");
}

TEST(Channel, ABlockedReceiverWakesForAnItemFromAnotherThread) {
    auto [sender, receiver] = make_channel<int>();
    std::thread producer([s = std::move(sender)]() mutable {
        std::this_thread::sleep_for(20ms);
        s.send(7);
    });
    EXPECT_EQ(receiver.receive(), 7);
    producer.join();
    EXPECT_FALSE(receiver.receive_for(10ms));
}

}  // namespace
}  // namespace vorlix
