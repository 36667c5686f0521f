#include "host/pairing_code.h"

#include <gtest/gtest.h>

#include <deque>

#include "temp_folder.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;
using Clock = PairingCode::Clock;

// Hands out the given 32-bit numbers as big-endian bytes, in order.
struct FakeRandom {
    std::deque<std::uint32_t> numbers;
    int draws = 0;
    std::array<std::uint8_t, 4> operator()() {
        ++draws;
        std::uint32_t n = numbers.empty() ? 123456 : numbers.front();
        if (!numbers.empty()) numbers.pop_front();
        return {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
    }
};

struct PairingFixture : ::testing::Test {
    Clock::time_point now{std::chrono::hours(1000)};
    FakeRandom random;
    PairingCode pairing{[this] { return now; }, [this] { return random(); }};
};

TEST_F(PairingFixture, CodesAreSixDigitsAndTooLargeNumbersAreDrawnAgain) {
    random.numbers = {4'294'000'000u, 4'294'967'295u, 42};
    ASSERT_TRUE(pairing.open());
    EXPECT_EQ(pairing.code(), "000042");
    EXPECT_EQ(random.draws, 3);

    random.numbers = {4'293'999'999u};
    pairing.open();
    EXPECT_EQ(pairing.code(), "999999");
    random.numbers = {0};
    pairing.open();
    EXPECT_EQ(pairing.code(), "000000");
    random.numbers = {1'000'000u + 999'999u};
    pairing.open();
    EXPECT_EQ(pairing.code(), "999999");
}

TEST_F(PairingFixture, EveryOpenDrawsAFreshCodeAndCloseDropsIt) {
    random.numbers = {111111, 222222};
    pairing.open();
    pairing.open();
    EXPECT_EQ(pairing.code(), "222222");
    pairing.close();
    EXPECT_EQ(pairing.code(), std::nullopt);
}

TEST_F(PairingFixture, FourWrongCodesReplaceTheCodeAndTheFifthLocksFor60Seconds) {
    random.numbers = {100000, 100001, 100002, 100003, 100004, 100005};
    pairing.open();
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(pairing.count_wrong_code(), PairingCode::WrongCode::kCounted);
        EXPECT_EQ(pairing.code(), "10000" + std::to_string(i));
        EXPECT_EQ(pairing.wrong_codes(), static_cast<std::uint32_t>(i));
    }
    EXPECT_EQ(pairing.count_wrong_code(), PairingCode::WrongCode::kLockedOut);
    EXPECT_EQ(pairing.code(), std::nullopt);
    EXPECT_EQ(pairing.wrong_codes(), 0u);

    now += 1ms;
    EXPECT_EQ(pairing.seconds_locked(), 60u);
    now += 59s;
    EXPECT_EQ(pairing.seconds_locked(), 1u);
    const int draws_before = random.draws;
    EXPECT_FALSE(pairing.open());
    EXPECT_EQ(pairing.code(), std::nullopt);
    EXPECT_EQ(random.draws, draws_before);

    now += 999ms;  // exactly 60 s after the fifth wrong code
    EXPECT_EQ(pairing.seconds_locked(), std::nullopt);
    EXPECT_TRUE(pairing.open());
    EXPECT_EQ(pairing.code(), "100005");
}

TEST_F(PairingFixture, WrongCodesWithoutAnOpenCodeOnlyCount) {
    EXPECT_EQ(pairing.count_wrong_code(), PairingCode::WrongCode::kCounted);
    EXPECT_EQ(pairing.code(), std::nullopt);
    EXPECT_EQ(random.draws, 0);
    pairing.count_wrong_code();
    pairing.reset_wrong_codes();
    EXPECT_EQ(pairing.wrong_codes(), 0u);
    for (int i = 0; i < 4; ++i) pairing.count_wrong_code();
    EXPECT_EQ(pairing.seconds_locked(), std::nullopt);
    EXPECT_EQ(pairing.count_wrong_code(), PairingCode::WrongCode::kLockedOut);
}

// Places belong to the code they were taken under: one given back after a
// new code frees none of its places, and counts until a device signs in.
TEST_F(PairingFixture, APlaceOfACodeGoneFreesNoneOfTheNextCodesPlaces) {
    random.numbers = {111111, 222222};
    pairing.open();
    ASSERT_EQ(pairing.take_place("111111", 1), PairingCode::Place::kTaken);
    const std::uint64_t gone = pairing.code_number();
    pairing.open();
    ASSERT_EQ(pairing.take_place("222222", 1), PairingCode::Place::kTaken);
    EXPECT_FALSE(pairing.give_back_place(gone));
    EXPECT_EQ(pairing.places(), 1u);
    EXPECT_EQ(pairing.take_place("222222", 1), PairingCode::Place::kBusy);
    EXPECT_TRUE(pairing.counts_stale(gone));
    EXPECT_FALSE(pairing.counts_stale(pairing.code_number()));
    pairing.reset_wrong_codes();
    EXPECT_FALSE(pairing.counts_stale(gone));
}

TEST(CodeFile, MirrorsTheCodeAndRemovesTheFileWhenClosed) {
    test::TempFolder folder;
    const auto path = folder / "code.txt";
    CodeFile file;
    file.mirror(std::string("123456"));  // no path yet: nothing happens
    EXPECT_FALSE(std::filesystem::exists(path));

    file.set_path(path);
    file.mirror(std::string("123456"));
    EXPECT_EQ(test::read_file(path), "123456");
    file.mirror(std::string("000042"));
    EXPECT_EQ(test::read_file(path), "000042");
    file.mirror(std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(path));
    file.mirror(std::nullopt);  // nothing to remove: ignored

    file.set_path(folder / "missing" / "code.txt");
    file.mirror(std::string("654321"));  // cannot be written: ignored
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

TEST(CodeFile, WithoutAPathNoFileIsTouched) {
    test::TempFolder folder;
    const auto path = folder / "code.txt";
    test::write_file(path, "keep");
    CodeFile file;
    file.mirror(std::nullopt);
    EXPECT_EQ(test::read_file(path), "keep");
}

}  // namespace
}  // namespace vorlix
