#include <gtest/gtest.h>

#include <cerrno>

#ifdef _WIN32
#include <winsock2.h>
#endif

#include "app/web_host.h"
#include "crypto/random.h"
#include "i18n/i18n.h"
#include "relay/relay_thread.h"
#include "storage/log_capture.h"
#include "support/test_relay.h"
#include "support/wait.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

TEST(RelayEndpoints, FollowTheRelayAddress) {
    const RelaySettings d = relay_defaults();
    EXPECT_TRUE(d.relay_address.ends_with(":47920"));
    EXPECT_TRUE(d.watch_relay_url.starts_with("wss://") && d.watch_relay_url.ends_with("/watch"));
    EXPECT_TRUE(d.watch_page_url.starts_with("https://") && d.watch_page_url.ends_with("/watch"));
    const auto builtin = builtin_relay_endpoints();
    ASSERT_EQ(builtin.size(), 2u);
    EXPECT_EQ(builtin[0].addresses.front(), d.relay_address);
    for (const auto& e : builtin) {
        ASSERT_EQ(e.addresses.size(), 2u);
        for (const auto& a : e.addresses) EXPECT_TRUE(a.ends_with(":47920")) << a;
    }
    std::string upper = d.relay_address;
    upper[0] = static_cast<char>(upper[0] - 'a' + 'A');
    struct Case {
        std::string address;
        std::optional<std::string> second;
        std::vector<RelayEndpoint> endpoints;
        RelayEndpoint main;
    };
    const Case cases[] = {
        {d.relay_address, std::nullopt, builtin, builtin[0]},
        {d.relay_address, "127.0.0.1:9", builtin, builtin[0]},  // the second is not consulted
        {upper, std::nullopt, {{"main", {upper}}}, {"main", {upper}}},
        {"127.0.0.1:1", "127.0.0.1:2", {{"main", {"127.0.0.1:1"}}, {"hk", {"127.0.0.1:2"}}}, {"main", {"127.0.0.1:1"}}},
    };
    for (const auto& c : cases) {
        RelaySettings s = d;
        s.relay_address = c.address;
        s.second_relay_address = c.second;
        EXPECT_EQ(relay_endpoints(s), c.endpoints) << c.address;
        EXPECT_EQ(main_relay_endpoint(s), c.main) << c.address;
    }
}

// The host name of a web address: between the scheme and the path.
std::string host_of(std::string_view url) {
    const std::size_t start = url.find("://");
    if (start == std::string_view::npos) return {};
    url.remove_prefix(start + 3);
    return std::string(url.substr(0, url.find('/')));
}

// The watch page, the update manifest and every table's update-failed text
// name the same web host, the one of kWebHost.
TEST(RelayEndpoints, TheWatchPageManifestAndUpdateNoticeNameOneWebHost) {
    const std::string host(kWebHost);
    ASSERT_FALSE(host.empty());
    EXPECT_EQ(relay_defaults().watch_page_url, "https://" + host + "/watch");
    EXPECT_EQ(host_of(kDefaultManifestLink), host);
    EXPECT_TRUE(kDefaultManifestLink.ends_with("/download/windows/update.json"));
    const auto maps = build_translation_tables();
    ASSERT_EQ(maps.size(), kLanguageCount);
    EXPECT_EQ(maps[0].at("update.failed.text"), "{error}. You can download it from " + host + ".");
    for (std::size_t i = 0; i < maps.size(); ++i) {
        std::string text = maps[i].at("update.failed.text");
        const std::size_t at = text.find(host);
        ASSERT_NE(at, std::string::npos) << i << ": " << text;
        // No other name of the maker's in the text.
        text.erase(at, host.size());
        EXPECT_EQ(text.find("vorlix."), std::string::npos) << i << ": " << text;
    }
}

TEST(RelayLines, ActOnlyOnWellFormedMessages) {
    struct Case {
        std::string line;
        RelayLine::Kind kind;
        std::string text;
    };
    const Case cases[] = {
        {R"({"nonce":"abc"})", RelayLine::Kind::Nonce, "abc"},
        {R"(  {"ok":true} )", RelayLine::Kind::Ok, ""},
        {R"({"incoming":"t1"})", RelayLine::Kind::Incoming, "t1"},
        {R"({"incoming":"t","ok":true,"nonce":"n"})", RelayLine::Kind::Nonce, "n"},
        {R"({"ok":false})", RelayLine::Kind::Ignored, ""},
        {R"({"ok":1})", RelayLine::Kind::Ignored, ""},
        {R"({"nonce":5})", RelayLine::Kind::Ignored, ""},
        {R"({"ok":true} x)", RelayLine::Kind::Ignored, ""},
        {"", RelayLine::Kind::Ignored, ""},
        {"[1]", RelayLine::Kind::Ignored, ""},
    };
    for (const auto& c : cases) {
        RelayLine got = read_relay_line(c.line);
        EXPECT_EQ(got.kind, c.kind) << c.line;
        EXPECT_EQ(got.text, c.text) << c.line;
    }
    EXPECT_EQ(write_json_line(Json{{"ping", 1}}), "{\"ping\":1}\n");

    RelayLineReader reader(16);
    const std::string two = "{\"a\":1}\n{\"b\"";
    reader.append(reinterpret_cast<const std::uint8_t*>(two.data()), two.size());
    EXPECT_EQ(reader.next()->value_or("-"), "{\"a\":1}");
    EXPECT_FALSE(reader.next()->has_value());
    const std::string endless(17, 'x');
    reader.append(reinterpret_cast<const std::uint8_t*>(endless.data()), endless.size());
    EXPECT_FALSE(reader.next().ok());
    RelayLineReader bad;
    const std::uint8_t invalid[] = {0xff, '\n'};
    bad.append(invalid, 2);
    EXPECT_FALSE(bad.next().ok());
}

RelayTimings quick_timings() {
    RelayTimings t;
    t.connect = 1000ms;
    t.sign_in = 150ms;
    t.signed_in_read = 60ms;
    t.silence_limit = 150ms;
    t.first_delay = 20ms;
    t.delay_cap = 40ms;
    return t;
}

bool thread_ended(const RelayHandle& h, std::chrono::milliseconds limit) {
    return wait_until([&] { return h.shared.use_count() == 1; }, limit);
}

// One registration through its life: signs in, answers a later nonce, ignores
// junk, hands on links, pings in silence and gives up, ends on an endless
// line, and stops at once.
TEST(RelayThread, RegistersAndKeepsTheConnectionHonest) {
    test::TestRelay relay;
    test::LogCapture log;
    const Ed25519KeyPair key = new_identity_key();
    std::mutex mutex;
    std::vector<std::string> links;
    RelayHandle h = spawn_relay_thread(
        {"main", {relay.address()}}, key, RelayMode::Sessions,
        [&](const std::string& token, const std::string& address) {
            std::lock_guard<std::mutex> lock(mutex);
            links.push_back(token + "@" + address);
        },
        quick_timings());
    ASSERT_TRUE(wait_until([&] { return h.shared->registered.load(); }));
    EXPECT_EQ(relay.host_key(), key.public_key);
    EXPECT_FALSE(relay.web_sign_in());

    ASSERT_TRUE(relay.send_to_host("{\"ok\":false}\n{\"nonce\":5}\n\nnot json\n{\"nonce\":\"n1\"}\n"));
    ASSERT_TRUE(relay.announce("tok"));
    EXPECT_TRUE(wait_until([&] { return relay.good_signatures() == 2; }));
    EXPECT_EQ(relay.bad_signatures(), 0);
    EXPECT_TRUE(wait_until([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return links == std::vector<std::string>{"tok@" + relay.address()};
    }));

    // Silence: pings every read time-out, then the host gives up and signs in again.
    EXPECT_TRUE(wait_until([&] { return relay.pings() >= 2 && relay.connections() >= 2; }));
    EXPECT_NE(log.messages().find("relay " + relay.address() + ": the relay stopped answering"), std::string::npos);
    EXPECT_NE(log.messages().find("relay: registration at " + relay.address() + " lost"), std::string::npos);

    // A line without end is cut at its bound.
    ASSERT_TRUE(wait_until([&] { return h.shared->registered.load(); }));
    const int before = relay.connections();
    relay.send_to_host(std::string(kMaxRelayLine + 10, 'x'));
    EXPECT_TRUE(wait_until([&] { return relay.connections() > before; }));
    EXPECT_NE(log.messages().find("a line longer than 65536 bytes"), std::string::npos);

    const auto stopped_at = std::chrono::steady_clock::now();
    stop_relay_thread(h);
    EXPECT_TRUE(thread_ended(h, 150ms));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped_at, 150ms);
}

TEST(RelayThread, BacksOffThroughTheAddressesUntilStopped) {
    test::TestRelay relay;
    relay.set_silent(true);
    test::LogCapture log;
    // A port nobody listens on: a loopback listener closed again.
    std::string dead;
    {
        Result<Listener> l = Listener::bind(IpAddress::v4(127, 0, 0, 1), 0);
        ASSERT_TRUE(l);
        dead = "127.0.0.1:" + std::to_string(*l->local_port());
    }
    RelayTimings t = quick_timings();
    t.sign_in = 30ms;
    const auto start = std::chrono::steady_clock::now();
    RelayHandle h = spawn_relay_thread({"hk", {dead, relay.address()}}, new_identity_key(), RelayMode::WatchLinks,
                                       nullptr, t);
    // dead, wait 20, relay (30 silent), wait 40, dead, wait 80, relay: at least 170 ms.
    ASSERT_TRUE(wait_until([&] { return relay.connections() >= 2; }, 3s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 170ms);
    EXPECT_TRUE(relay.web_sign_in());
    EXPECT_NE(log.messages().find("relay hk " + relay.address() + ": the relay did not sign this host in"),
              std::string::npos);
    EXPECT_NE(log.messages().find("relay hk " + dead + ": "), std::string::npos);
    stop_relay_thread(h);
    EXPECT_TRUE(thread_ended(h, 150ms));

    RelayHandle empty = spawn_relay_thread({"main", {}}, new_identity_key(), RelayMode::Sessions, nullptr, t);
    EXPECT_EQ(empty.shared->current_address, "");
    EXPECT_TRUE(thread_ended(empty, 1s));
}

TEST(RelayJoin, TakesOneAnswerLineAndLeavesTheRest) {
    test::TestRelay relay;
    struct Case {
        std::string answer;
        std::string error;  // empty: joined
    };
    const std::string refused = "the relay did not join the link";
#ifdef _WIN32
    const std::string timed_out = socket_error_text(WSAETIMEDOUT);
#else
    const std::string timed_out = socket_error_text(ETIMEDOUT);
#endif
    const Case cases[] = {
        {"{\"ok\":true}\nafter", ""},
        {"", timed_out},  // no answer within the second
        {"{\"ok\":false}\n", refused},
        {"{\"error\":\"gone\"}\n", refused},
        {"[true]\n", refused},
        {"ok\n", "the relay's answer to a join is not JSON"},
        {"{\"ok\":true} x\n", "the relay's answer to a join is not JSON"},
        {"{\"ok\":true,\"pad\":\"" + std::string(512 - 20, 'p') + "\"}\n", ""},
        {"{\"ok\":true,\"pad\":\"" + std::string(513 - 20, 'p') + "\"}\n", "the relay's answer to a join is too long"},
    };
    int n = 0;
    for (const auto& c : cases) {
        relay.set_join_answer(c.answer);
        const std::string token = "t" + std::to_string(n++);
        Result<Socket> joined = join_relay_link(relay.address(), token, 1s, 1s);
        EXPECT_EQ(joined ? std::string() : joined.error().text, c.error) << c.answer;
        if (joined && c.answer.ends_with("after")) {
            std::uint8_t buf[8];
            ReceiveOutcome got = joined->receive(buf, sizeof buf, 1s);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got.size), "after");
        }
    }
}

}  // namespace
}  // namespace vorlix
