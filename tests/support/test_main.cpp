// The one main() of every test program. A run in which every test skipped
// (none passed, none failed) ends with kAllSkipped, which CTest reports as a
// skip instead of a pass.
#include <gtest/gtest.h>

namespace {
constexpr int kAllSkipped = 77;
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    const testing::UnitTest& run = *testing::UnitTest::GetInstance();
    if (result == 0 && run.skipped_test_count() > 0 && run.successful_test_count() == 0) return kAllSkipped;
    return result;
}
