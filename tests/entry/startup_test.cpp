#include "host/startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "support/fake_platform.h"

namespace vorlix {
namespace {

namespace fs = std::filesystem;

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class HostStartTest : public testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("vorlix-startup-" + std::to_string(std::random_device{}()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name());
        FakePlatform::Answers answers;
        answers.name = "Desk";
        answers.model = "Windows PC (Acme Book 5)";
        answers.data_folder = DataFolder{root_ / "nested" / "data", 1};
        platform_.set_answers(answers);
    }
    void TearDown() override {
        // On Windows the log file stays open for the rest of the run, so its
        // folder cannot go (and removing it can hang); it is left behind.
#ifndef _WIN32
        fs::remove_all(root_);
#endif
    }

    fs::path root_;
    FakePlatform platform_;
};

TEST_F(HostStartTest, MakesTheFolderIdentityAndStartLine) {
    const HostStart start = load_host_start(platform_);
    const fs::path folder = root_ / "nested" / "data";
    EXPECT_EQ(start.data_folder, folder);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(start.name, "Desk");
    EXPECT_EQ(start.model, "Windows PC (Acme Book 5)");

    // The identity is stored through the platform's protection.
    const std::string stored = read_text(folder / "identity.key");
    EXPECT_EQ(stored.rfind("fake-protected:", 0), 0u);
    EXPECT_EQ(stored.size(), 15u + 32u);

    // The start line reaches the log file in the folder.
    const std::string log = read_text(folder / "vorlix.log");
    const std::string line = "Vorlix host 1.2 for Windows: Desk (Windows PC (Acme Book 5)), id " +
                             start.identity.fingerprint() + "\n";
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(start.identity.fingerprint(), sha256_hex(start.identity.public_key()));

    // Name and model are asked after the identity is there.
    const auto ops = platform_.operations();
    const auto at = [&](const std::string& op) { return std::find(ops.begin(), ops.end(), op) - ops.begin(); };
    EXPECT_LT(at("protect_data"), at("computer_name"));
    EXPECT_LT(at("computer_name"), at("computer_model"));
}

TEST_F(HostStartTest, KeepsTheIdentityAcrossStarts) {
    const std::string first = load_host_start(platform_).identity.fingerprint();
    platform_.clear_calls();
    const std::string second = load_host_start(platform_).identity.fingerprint();
    EXPECT_EQ(first, second);
    EXPECT_EQ(platform_.count("protect_data"), 0u);  // loaded, not written again
    const std::string log = read_text(root_ / "nested" / "data" / "vorlix.log");
    EXPECT_NE(log.find(first), log.rfind(first));  // two start lines, one id
}

}  // namespace
}  // namespace vorlix
