#include "reach/dns_sd.h"

#include <gtest/gtest.h>

#include "storage/log_capture.h"

namespace vorlix {
namespace {

TEST(DnsSd, InstanceNamesFitOneLabelOfWholeCharacters) {
    std::string japanese;
    for (int i = 0; i < 30; ++i) japanese += "\xE6\x97\xA5";  // 3 bytes each
    const std::string emoji = "\xF0\x9F\x98\x80";
    const std::pair<std::string, std::string> cases[] = {
        {std::string(70, 'a'), std::string(63, 'a')},
        {std::string(63, 'b'), std::string(63, 'b')},
        {japanese, japanese.substr(0, 63)},                           // 21 whole characters
        {std::string(62, 'c') + "\xC3\xA9", std::string(62, 'c')},    // the 2-byte character would end at 64
        {std::string(61, 'd') + emoji + "x", std::string(61, 'd')},
        {std::string(59, 'e') + emoji + "x", std::string(59, 'e') + emoji},
    };
    for (const auto& [name, cut] : cases) EXPECT_EQ(cut_instance_name(name), cut) << name;

    const Announcement a = make_announcement(japanese, "DESK-7", 47910, {{"id", "0123456789ab"}, {"model", "Zé 5"}});
    EXPECT_EQ(a.instance_name.substr(21), u"._vorlix._tcp.local");
    EXPECT_EQ(a.instance_name.size(), 21u + 19u);
    EXPECT_EQ(a.host_name, u"DESK-7.local");
    EXPECT_EQ(a.txt.keys, (std::vector<std::u16string>{u"id", u"model"}));
    EXPECT_EQ(a.txt.values, (std::vector<std::u16string>{u"0123456789ab", u"Z\u00e9 5"}));
}

// Stands for the system: numbers the registrations and records withdrawals.
struct RecordingDnsSd final : DnsSdSystem {
    Outcome next{Outcome::Kind::Pending, 0, 0};
    std::string calls;
    Handle handles = 0;
    Outcome register_service(const Announcement& a) override {
        calls += "register " + a.name + ":" + std::to_string(a.port) + " as " + std::to_string(++handles) + ",";
        return {next.kind, next.code, handles};
    }
    void withdraw(Handle handle) override { calls += "withdraw " + std::to_string(handle) + ","; }
};

TEST(DnsSd, OneRegistrationAtATimeWithdrawnBeforeTheNext) {
    test::LogCapture log;
    auto system = std::make_shared<RecordingDnsSd>();
    Advertiser advertiser(system);
    advertiser.stop();  // nothing registered: nothing to do
    advertiser.start(std::string(70, 'x'), "PC", 47910, {});
    advertiser.start("Den", "PC", 47911, {});
    advertiser.stop();
    system->next = {DnsSdSystem::Outcome::Kind::Refused, 87, 0};
    advertiser.start("Den", "PC", 1, {});
    system->next = {DnsSdSystem::Outcome::Kind::Unavailable, 0, 0};
    advertiser.start("Den", "PC", 1, {});
    EXPECT_FALSE(advertiser.registered());
    advertiser.stop();  // nothing refused is withdrawn
    EXPECT_EQ(system->calls, "register " + std::string(63, 'x') +
                                 ":47910 as 1,withdraw 1,register Den:47911 as 2,withdraw 2,"
                                 "register Den:1 as 3,register Den:1 as 4,");
    EXPECT_EQ(log.messages(), "Bonjour: registering " + std::string(63, 'x') +
                                  "._vorlix._tcp on port 47910\n"
                                  "Bonjour: registering Den._vorlix._tcp on port 47911\n"
                                  "Bonjour: DnsServiceRegister returned 87\n"
                                  "Bonjour: DnsServiceConstructInstance failed (Windows 10 1809 or later is needed)\n");
    EXPECT_EQ(registration_finished_text(0), "Bonjour: advertised");
    EXPECT_EQ(registration_finished_text(1460), "Bonjour: registration finished with status 1460");
}

}  // namespace
}  // namespace vorlix
