#include <string>

#include <gtest/gtest.h>

#include "handshake/messages.h"

namespace vorlix {
namespace {

const std::string kKeyA = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";  // bytes 0..31
const std::string kKeyB = std::string(43, 'A') + "=";                       // 32 zero bytes

std::string hello_text(const std::string& extra) {
    return "{\"version\":1,\"name\":\"Phone\",\"model\":\"M1\",\"idKey\":\"" + kKeyA + "\",\"ephemeralKey\":\"" +
           kKeyB + "\"" + extra + "}";
}

Result<Hello> hello_of(const std::string& text) { return parse_hello(to_bytes(text)); }
Result<HandshakeMessage> message_of(const std::string& text) { return parse_handshake_message(to_bytes(text)); }

TEST(HelloRead, RequiredAndOptionalFields) {
    auto hello = hello_of(hello_text(""));
    ASSERT_TRUE(hello.ok()) << hello.error().text;
    EXPECT_EQ(hello->version, 1);
    EXPECT_EQ(hello->name, "Phone");
    EXPECT_EQ(hello->model, "M1");
    ASSERT_EQ(hello->id_key.size(), 32u);
    EXPECT_EQ(hello->id_key[31], 31);
    EXPECT_EQ(hello->ephemeral_key, Bytes(32, 0));
    EXPECT_FALSE(hello->mode);
    EXPECT_FALSE(hello->roles);

    auto full = hello_of(hello_text(
        ",\"mode\":\"invite\",\"known\":true,\"pairingOpen\":false,\"role\":\"preview\",\"roles\":[\"watch\",\"send\"],"
        "\"invite\":\"AQI=\""));
    ASSERT_TRUE(full.ok()) << full.error().text;
    EXPECT_EQ(full->mode, HelloMode::Invite);
    EXPECT_EQ(full->known, true);
    EXPECT_EQ(full->pairing_open, false);
    EXPECT_EQ(full->role, PeerRole::Preview);
    EXPECT_EQ(full->roles, (std::vector<PeerRole>{PeerRole::Watch, PeerRole::Send}));
    EXPECT_EQ(full->invite, (Bytes{1, 2}));

    auto nulls = hello_of(hello_text(
        ",\"mode\":null,\"known\":null,\"pairingOpen\":null,\"role\":null,\"roles\":null,\"invite\":null"));
    ASSERT_TRUE(nulls.ok());
    EXPECT_FALSE(nulls->mode || nulls->known || nulls->pairing_open || nulls->role || nulls->roles || nulls->invite);

    auto empty_roles = hello_of(hello_text(",\"roles\":[]"));
    ASSERT_TRUE(empty_roles.ok());
    EXPECT_EQ(empty_roles->roles, std::vector<PeerRole>{});

    // A key the record does not have is skipped with its value, whatever it
    // holds: a repeated key inside it included.
    auto extra = hello_of(hello_text(",\"extra\":{\"a\":[1,{\"b\":null,\"b\":2}],\"a\":{}},\"Mode\":5"));
    ASSERT_TRUE(extra.ok()) << extra.error().text;
    EXPECT_FALSE(extra->mode);

    auto negative = hello_of("{\"version\":-3,\"name\":\"\",\"model\":\"\",\"idKey\":\"\",\"ephemeralKey\":\"\"}");
    ASSERT_TRUE(negative.ok());
    EXPECT_EQ(negative->version, -3);
    EXPECT_TRUE(negative->id_key.empty());
}

TEST(HelloRead, Refusals) {
    const std::string keys = "\"idKey\":\"" + kKeyA + "\",\"ephemeralKey\":\"" + kKeyB + "\"";
    for (const std::string& text : std::vector<std::string>{
             hello_text(",\"name\":\"again\""),
             hello_text(",\"extra\":{},\"extra\":{}"),
             "{\"version\":1,\"name\":\"P\",\"model\":\"M\",\"idKey\":\"" + kKeyA + "\"}",
             "{\"name\":\"P\",\"model\":\"M\"," + keys + "}",
             "{\"version\":1.0,\"name\":\"P\",\"model\":\"M\"," + keys + "}",
             "{\"version\":1e0,\"name\":\"P\",\"model\":\"M\"," + keys + "}",
             "{\"version\":\"1\",\"name\":\"P\",\"model\":\"M\"," + keys + "}",
             "{\"version\":true,\"name\":\"P\",\"model\":\"M\"," + keys + "}",
             "{\"version\":9223372036854775808,\"name\":\"P\",\"model\":\"M\"," + keys + "}",
             "{\"version\":1,\"name\":5,\"model\":\"M\"," + keys + "}",
             hello_text(",\"mode\":\"Pair\""),
             hello_text(",\"mode\":0"),
             hello_text(",\"role\":\"viewer\""),
             hello_text(",\"roles\":[\"send\",1]"),
             hello_text(",\"roles\":\"send\""),
             hello_text(",\"known\":1"),
             hello_text(",\"invite\":\"AAA\""),
             hello_text(",\"invite\":\"AAB=\""),
             hello_text(",\"invite\":\"-_8=\""),
             hello_text(",\"invite\":\"AA AA\""),
             hello_text("") + "{}",
             hello_text("") + "x",
             "[1,\"P\",\"M\",\"\",\"\",null,null,null,null,null,null]",
             "null",
             "",
         }) {
        EXPECT_FALSE(hello_of(text).ok()) << text;
    }
    EXPECT_TRUE(hello_of(hello_text("") + "\n").ok());
    EXPECT_TRUE(hello_of(hello_text(",\"mode\":\"pair\"") + " \r\n\t").ok());
}

TEST(HelloRead, RefusalNamesTheFirstProblemInKeyOrder) {
    EXPECT_EQ(hello_of("{\"name\":5}").error().text, "missing field `version`");
    EXPECT_EQ(hello_of("{\"version\":1,\"model\":5}").error().text, "missing field `name`");
    EXPECT_EQ(hello_of("{\"version\":1.5,\"name\":5}").error().text, "invalid type in field `version`");
    EXPECT_EQ(hello_of(hello_text(",\"mode\":\"Pair\",\"known\":1")).error().text, "unknown variant in `mode`");
    EXPECT_EQ(hello_of(hello_text(",\"known\":null,\"pairingOpen\":\"yes\"")).error().text,
              "invalid type in field `pairingOpen`");
    EXPECT_EQ(hello_of(hello_text(",\"roles\":[\"send\",\"x\"]")).error().text, "unknown variant in `roles`");
    EXPECT_EQ(hello_of("[]").error().text, "expected a JSON object");
    EXPECT_EQ(message_of("{\"value\":5}").error().text, "missing field `kind`");
    EXPECT_EQ(message_of("{\"kind\":\"commit\",\"value\":5}").error().text, "invalid type in field `value`");
}

TEST(HelloWrite, HostHelloIsByteExact) {
    Hello hello;
    hello.version = 1;
    hello.name = "Desk \"PC\"\n\xC3\xA9";
    hello.model = "Model/1";
    for (std::uint8_t i = 0; i < 32; ++i) hello.id_key.push_back(i);
    hello.ephemeral_key = Bytes(32, 0xff);
    hello.known = false;
    hello.pairing_open = true;
    hello.roles = std::vector<PeerRole>{PeerRole::Send, PeerRole::Watch, PeerRole::Preview};
    EXPECT_EQ(to_string(write_hello(hello)),
              "{\"version\":1,\"name\":\"Desk \\\"PC\\\"\\n\xC3\xA9\",\"model\":\"Model/1\",\"idKey\":\"" + kKeyA +
                  "\",\"ephemeralKey\":\"//////////////////////////////////////////8=\",\"known\":false,"
                  "\"pairingOpen\":true,\"roles\":[\"send\",\"watch\",\"preview\"]}");

    // Every optional field, in declaration order.
    Hello all = hello;
    all.name = "n";
    all.model = "m";
    all.mode = HelloMode::Auth;
    all.role = PeerRole::Watch;
    all.invite = Bytes{0xfb, 0xff};
    all.roles = std::vector<PeerRole>{};
    EXPECT_EQ(to_string(write_hello(all)),
              "{\"version\":1,\"name\":\"n\",\"model\":\"m\",\"idKey\":\"" + kKeyA +
                  "\",\"ephemeralKey\":\"//////////////////////////////////////////8=\",\"mode\":\"auth\","
                  "\"known\":false,\"pairingOpen\":true,\"role\":\"watch\",\"roles\":[],\"invite\":\"+/8=\"}");

    Hello bare;
    bare.version = -3;
    EXPECT_EQ(to_string(write_hello(bare)),
              "{\"version\":-3,\"name\":\"\",\"model\":\"\",\"idKey\":\"\",\"ephemeralKey\":\"\"}");

    auto back = parse_hello(write_hello(all));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value(), all);
}

TEST(HandshakeMessageRead, KindsAndFields) {
    auto commit = message_of("{\"kind\":\"commit\",\"value\":\"" + kKeyA + "\"}");
    ASSERT_TRUE(commit.ok());
    EXPECT_EQ(commit->kind, HandshakeKind::Commit);
    EXPECT_EQ(commit->value->size(), 32u);
    EXPECT_FALSE(commit->nonce);

    auto failure =
        message_of("{\"reason\":\"hostChanged\",\"kind\":\"failure\",\"value\":null,\"x\":[{\"y\":1,\"y\":1}]}");
    ASSERT_TRUE(failure.ok());
    EXPECT_EQ(failure->reason, PairingError::HostChanged);
    EXPECT_FALSE(failure->value);

    ASSERT_TRUE(message_of("{\"kind\":\"proof\",\"nonce\":\"\"}").ok());
    EXPECT_EQ(message_of("{\"kind\":\"proof\",\"nonce\":\"\"}")->nonce, Bytes{});

    for (const char* text : {"{}", "{\"kind\":\"Commit\"}", "{\"kind\":null}", "{\"kind\":\"commit\",\"kind\":\"commit\"}",
                             "{\"kind\":\"failure\",\"reason\":\"WrongCode\"}", "{\"kind\":\"commit\",\"value\":5}",
                             "{\"kind\":\"reveal\",\"nonce\":\"AB==\"}", "[\"commit\",null,null,null]",
                             "{\"kind\":\"commit\"} {}"}) {
        EXPECT_FALSE(message_of(text).ok()) << text;
    }
}

TEST(HandshakeMessageWrite, Shapes) {
    auto text = [](const HandshakeMessage& m) { return to_string(write_handshake_message(m)); };
    EXPECT_EQ(text({HandshakeKind::Failure, {}, {}, PairingError::WrongCode}),
              "{\"kind\":\"failure\",\"reason\":\"wrongCode\"}");
    EXPECT_EQ(text({HandshakeKind::Commit, Bytes(32, 0), {}, {}}), "{\"kind\":\"commit\",\"value\":\"" + kKeyB + "\"}");
    EXPECT_EQ(text({HandshakeKind::Reveal, Bytes{1}, Bytes{2, 3}, {}}),
              "{\"kind\":\"reveal\",\"value\":\"AQ==\",\"nonce\":\"AgM=\"}");
    EXPECT_EQ(text({HandshakeKind::Proof, Bytes{}, {}, {}}), "{\"kind\":\"proof\",\"value\":\"\"}");
    std::string signature = text({HandshakeKind::Signature, Bytes(64, 7), {}, {}});
    EXPECT_EQ(signature.size(), std::string("{\"kind\":\"signature\",\"value\":\"\"}").size() + 88);

    for (int i = 0; i < 9; ++i) {
        auto error = static_cast<PairingError>(i);
        HandshakeMessage m{HandshakeKind::Failure, {}, {}, error};
        auto back = parse_handshake_message(write_handshake_message(m));
        ASSERT_TRUE(back.ok());
        EXPECT_EQ(back.value(), m);
        EXPECT_EQ(pairing_error_from_text(pairing_error_text(error)), error);
        std::string log_name(pairing_error_log_name(error));
        std::string json_text(pairing_error_text(error));
        json_text[0] = static_cast<char>(json_text[0] - 'a' + 'A');
        EXPECT_EQ(log_name, json_text);
    }
}

}  // namespace
}  // namespace vorlix
