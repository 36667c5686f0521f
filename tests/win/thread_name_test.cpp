// Thread names on Windows: kept per thread, up to their first 63 bytes.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "util/thread_name.h"

namespace vorlix {
namespace {

TEST(WinThreadName, EachThreadKeepsItsOwnName) {
    std::string named, unnamed, long_name;
    std::thread first([&] {
        set_current_thread_name("vorlix-stream-1234567890");
        named = current_thread_name();
    });
    first.join();
    std::thread second([&] { unnamed = current_thread_name(); });
    second.join();
    std::thread third([&] {
        set_current_thread_name(std::string(100, 'x'));
        long_name = current_thread_name();
    });
    third.join();
    EXPECT_EQ(named, "vorlix-stream-1234567890");
    EXPECT_EQ(unnamed, "");
    EXPECT_EQ(long_name, std::string(63, 'x'));
}

}  // namespace
}  // namespace vorlix
