#include <gtest/gtest.h>

#include "json/base64.h"
#include "watch_links/watch_handshake.h"
#include "watch_links/watch_links.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

struct FakeClock : MonotonicClock {
    std::chrono::steady_clock::time_point at{};
    std::chrono::steady_clock::time_point now() const override { return at; }
};

Key32 secret_of(std::uint8_t n) {
    Key32 k{};
    k.fill(n);
    return k;
}

ByteView view(const WatchLinkId& id) { return ByteView(id.data(), id.size()); }

TEST(WatchLinks, WaitAtMostHalfAnHourAndTwentyAtATime) {
    auto clock = std::make_shared<FakeClock>();
    WatchLinkRegistry registry(clock);
    for (std::uint8_t i = 0; i < 20; ++i) ASSERT_TRUE(registry.add_watch_link(secret_of(i)));
    EXPECT_FALSE(registry.add_watch_link(secret_of(20)));
    EXPECT_EQ(registry.count_watch_links(), 20u);

    // An opened link no longer waits and never expires.
    const Key32 next = secret_of(99);
    EXPECT_EQ(registry.redeem_watch_link(view(watch_link_id(secret_of(0))), next), 0u);
    EXPECT_FALSE(registry.find_watch_link(view(watch_link_id(secret_of(0)))));
    EXPECT_EQ(registry.find_watch_link(view(watch_link_id(next))), next);
    EXPECT_TRUE(registry.add_watch_link(secret_of(20)));
    EXPECT_FALSE(registry.add_watch_link(secret_of(21)));

    clock->at += 1799s;
    EXPECT_EQ(registry.count_watch_links(), 20u);
    clock->at += 1s;  // the first nineteen reach their deadline
    EXPECT_EQ(registry.count_watch_links(), 0u);
    EXPECT_TRUE(registry.find_watch_link(view(watch_link_id(next))));
    EXPECT_FALSE(registry.find_watch_link(view(watch_link_id(secret_of(5)))));
    EXPECT_TRUE(registry.add_watch_link(secret_of(21)));
    registry.clear_watch_links();
    EXPECT_FALSE(registry.find_watch_link(view(watch_link_id(next))));
}

TEST(WatchLinks, TheThirdWrongProofSinceTheSecretRemovesTheLink) {
    WatchLinkRegistry registry(std::make_shared<FakeClock>());
    const Key32 first = secret_of(1), second = secret_of(2);
    ASSERT_TRUE(registry.add_watch_link(first));
    const WatchLinkId id = watch_link_id(first);
    registry.note_failed_watch_attempt(view(id));
    registry.note_failed_watch_attempt(view(id));
    ASSERT_TRUE(registry.redeem_watch_link(view(id), second));  // the count starts again
    const WatchLinkId next = watch_link_id(second);
    registry.note_failed_watch_attempt(view(next));
    registry.note_failed_watch_attempt(view(next));
    EXPECT_TRUE(registry.find_watch_link(view(next)));
    registry.note_failed_watch_attempt(view(next));
    EXPECT_FALSE(registry.find_watch_link(view(next)));
}

TEST(WatchLinks, TokenCarriesSecretKeyAndRelayUrl) {
    const Key32 secret = secret_of(7), key = secret_of(8);
    std::optional<Bytes> bytes = base64url_decode(encode_watch_link_token(secret, key, "wss://r/watch"));
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 65u + 13u);
    EXPECT_EQ((*bytes)[0], 0x01);
    EXPECT_TRUE(std::equal(secret.begin(), secret.end(), bytes->begin() + 1));
    EXPECT_TRUE(std::equal(key.begin(), key.end(), bytes->begin() + 33));
    EXPECT_EQ(std::string(bytes->begin() + 65, bytes->end()), "wss://r/watch");
    // The id is SHA-256 over the label and the secret, cut to 16 bytes.
    Bytes message{'v', 'o', 'r', 'l', 'i', 'x', '/', '1', ' ', 'w', 'a', 't', 'c', 'h', '-', 'l', 'i', 'n', 'k', ' ', 'i', 'd'};
    message.insert(message.end(), secret.begin(), secret.end());
    const Digest32 digest = sha256(message);
    EXPECT_TRUE(std::equal(digest.begin(), digest.begin() + 16, watch_link_id(secret).begin()));
}

// Trimmed of Unicode white space, cut to 40 characters, invalid bytes
// replaced, and "Web browser" when nothing is left.
TEST(WatchLinks, ViewerDisplayNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"  Anna\t", "Anna"},
        {"\xC2\xA0\xE3\x80\x80" "Anna\xE2\x80\xAF", "Anna"},  // no-break, ideographic, narrow no-break
        {"   ", "Web browser"},
        {"\xC2\xA0\xE3\x80\x80\xE2\x80\x83", "Web browser"},
        {"", "Web browser"},
        {std::string(50, 'x'), std::string(40, 'x')},
        {"\xC3\xA9" + std::string(45, 'e'), "\xC3\xA9" + std::string(39, 'e')},
        {"A\xFF" "B", "A\xEF\xBF\xBD" "B"},
    };
    for (const auto& [name, shown] : cases) {
        EXPECT_EQ(viewer_display_name(ByteView(reinterpret_cast<const std::uint8_t*>(name.data()), name.size())), shown)
            << name;
    }
}

}  // namespace
}  // namespace vorlix
