#include "reach/dns_sd.h"

#include <gtest/gtest.h>

#include "storage/log_capture.h"

namespace vorlix {
namespace {

TEST(DnsSd, InstanceNamesFitOneLabelOfWholeCharacters) {
    const std::string japanese = [] {
        std::string name;
        for (int i = 0; i < 30; ++i) name += "\xE6\x97\xA5";  // 日, 3 bytes
        return name;
    }();
    const struct {
        std::string name;
        std::string announced;
    } cases[] = {
        {std::string(70, 'a'), std::string(63, 'a')},
        {std::string(63, 'b'), std::string(63, 'b')},
        {"Study PC", "Study PC"},
        {japanese, japanese.substr(0, 63)},                                     // 21 whole characters
        {std::string(62, 'c') + "\xC3\xA9", std::string(62, 'c')},              // é would end at byte 64
        {std::string(61, 'd') + "\xF0\x9F\x98\x80x", std::string(61, 'd')},     // a 4-byte character
        {std::string(59, 'e') + "\xF0\x9F\x98\x80x", std::string(59, 'e') + "\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) EXPECT_EQ(cut_instance_name(c.name), c.announced) << c.name;

    const Announcement a = make_announcement(japanese, "DESK-7", 47910, {{"id", "0123456789ab"}, {"model", "Zé 5"}});
    EXPECT_EQ(a.name, japanese.substr(0, 63));
    EXPECT_EQ(a.instance_name.size(), 21u + 19u);
    EXPECT_EQ(a.instance_name.substr(21), u"._vorlix._tcp.local");
    EXPECT_EQ(a.host_name, u"DESK-7.local");
    EXPECT_EQ(a.txt.keys, (std::vector<std::u16string>{u"id", u"model"}));
    EXPECT_EQ(a.txt.values, (std::vector<std::u16string>{u"0123456789ab", u"Z\u00e9 5"}));
}

// Stands for the system: records registrations and withdrawals.
class RecordingDnsSd final : public DnsSdSystem {
public:
    Outcome next{Outcome::Kind::Pending, 0, 0};
    std::vector<std::string> calls;
    Outcome register_service(const Announcement& a) override {
        Outcome outcome = next;
        outcome.handle = ++handles_;
        calls.push_back("register " + a.name + ":" + std::to_string(a.port) + " as " + std::to_string(outcome.handle));
        return outcome;
    }
    void withdraw(Handle handle) override { calls.push_back("withdraw " + std::to_string(handle)); }

private:
    Handle handles_ = 0;
};

TEST(DnsSd, OneRegistrationAtATimeWithdrawnBeforeTheNext) {
    test::LogCapture log;
    auto system = std::make_shared<RecordingDnsSd>();
    Advertiser advertiser(system);
    advertiser.stop();  // nothing registered: nothing to do
    advertiser.start(std::string(70, 'x'), "PC", 47910, {});
    advertiser.start("Den", "PC", 47911, {});
    EXPECT_TRUE(advertiser.registered());
    advertiser.stop();
    advertiser.stop();
    EXPECT_FALSE(advertiser.registered());
    EXPECT_EQ(system->calls, (std::vector<std::string>{"register " + std::string(63, 'x') + ":47910 as 1",
                                                       "withdraw 1", "register Den:47911 as 2", "withdraw 2"}));

    system->next = {DnsSdSystem::Outcome::Kind::Refused, 87, 0};
    advertiser.start("Den", "PC", 1, {});
    system->next = {DnsSdSystem::Outcome::Kind::Unavailable, 0, 0};
    advertiser.start("Den", "PC", 1, {});
    EXPECT_FALSE(advertiser.registered());
    advertiser.stop();
    EXPECT_EQ(system->calls.back(), "register Den:1 as 4");  // nothing refused is withdrawn

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
