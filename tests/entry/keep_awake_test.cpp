#include "app/keep_awake.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace vorlix {
namespace {

// Runs the loop over the given wishes and returns every state it applied.
std::vector<std::uint32_t> applied_states(std::initializer_list<bool> wishes, bool refuse = false) {
    auto [sender, receiver] = make_channel<bool>();
    std::vector<std::uint32_t> calls;
    std::thread thread([&, receiver = std::move(receiver)]() mutable {
        run_keep_awake(receiver, [&](std::uint32_t flags) {
            calls.push_back(flags);
            return !refuse;
        });
    });
    for (bool w : wishes) sender.send(w);
    sender.reset();  // the last sender gone ends the loop
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

}  // namespace
}  // namespace vorlix
