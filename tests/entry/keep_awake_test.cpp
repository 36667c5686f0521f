#include "app/keep_awake.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace vorlix {
namespace {

// Runs the loop over the given wishes and returns every state it applied.
std::vector<std::uint32_t> applied_states(std::initializer_list<bool> wishes, bool refuse = false) {
    auto queue = std::make_shared<KeepAwakeQueue>();
    std::vector<std::uint32_t> calls;
    std::thread thread([&] {
        run_keep_awake(*queue, [&](std::uint32_t flags) {
            calls.push_back(flags);
            return !refuse;
        });
    });
    {
        KeepAwakeSender sender(queue);
        for (bool w : wishes) sender.send(w);
    }  // releasing the sender closes the queue
    thread.join();
    return calls;
}

TEST(KeepAwake, OnlyChangesReachTheSystem) {
    EXPECT_EQ(applied_states({true, true}), (std::vector<std::uint32_t>{kStateAwake, kStateContinuous}));
    EXPECT_EQ(applied_states({true, false, true}),
              (std::vector<std::uint32_t>{kStateAwake, kStateContinuous, kStateAwake, kStateContinuous}));
    // False first: nothing to change; the closing call still clears.
    EXPECT_EQ(applied_states({false, false}), (std::vector<std::uint32_t>{kStateContinuous}));
    EXPECT_EQ(applied_states({}), (std::vector<std::uint32_t>{kStateContinuous}));
}

TEST(KeepAwake, RefusedValueIsNotRetried) {
    EXPECT_EQ(applied_states({true, true, false}, true),
              (std::vector<std::uint32_t>{kStateAwake, kStateContinuous, kStateContinuous}));
}

TEST(KeepAwake, SendAfterCloseIsDropped) {
    KeepAwakeQueue queue;
    queue.send(true);
    queue.close();
    queue.send(false);
    EXPECT_EQ(queue.receive(), true);
    EXPECT_EQ(queue.receive(), std::nullopt);
}

}  // namespace
}  // namespace vorlix
