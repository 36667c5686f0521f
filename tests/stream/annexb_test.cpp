#include "h264/annexb.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

Bytes units_of(const std::vector<ByteView>& units) {
    Bytes joined;
    for (ByteView u : units) {
        joined.push_back(static_cast<std::uint8_t>(u.size()));
        append(joined, u);
    }
    return joined;
}

TEST(AnnexB, SplitsOnThreeAndFourByteStartCodes) {
    const Bytes data{0xAA, 0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x00, 0x01,
                     0x68, 0xCE, 0x00, 0x00, 0x00, 0x00, 0x01, 0x65, 0x88, 0x00};
    // Leading bytes ignored, trailing zeros dropped (also a 4-byte code's first).
    EXPECT_EQ(units_of(split_annexb(data)),
              (Bytes{2, 0x67, 0x42, 2, 0x68, 0xCE, 2, 0x65, 0x88}));
    EXPECT_EQ(units_of(split_annexb(Bytes{0, 0, 1, 0, 0, 1, 0x65, 1})), (Bytes{2, 0x65, 1}));
    EXPECT_EQ(units_of(split_annexb(Bytes{0x65, 0x88, 0x84})), (Bytes{3, 0x65, 0x88, 0x84}));
    EXPECT_TRUE(split_annexb(Bytes{}).empty());
    EXPECT_TRUE(split_annexb(Bytes{0, 0, 1}).empty());
    EXPECT_TRUE(split_annexb(Bytes{0, 0, 1, 0, 0, 0}).empty());
    EXPECT_EQ(units_of(split_annexb(Bytes{0, 0, 1, 0x41, 0, 0, 2, 0, 0, 1, 0x41})),
              (Bytes{4, 0x41, 0, 0, 2, 1, 0x41}));
}

TEST(AnnexB, KeyFrameOutputKeepsTheSliceAndTakesTheParameterSets) {
    const Bytes output{0, 0, 0, 1, 0x67, 0x64, 0x00, 0x1F, 0, 0, 0, 1, 0x68, 0xEE,
                       0, 0, 0, 1, 0x06, 0x05, 0, 0, 0, 1, 0x09, 0xF0,
                       0, 0, 0, 1, 0x65, 0x88, 0x84, 0x21};
    ParameterSets sets;
    const PackedOutput packed = find_nal_units(sets, output);
    EXPECT_TRUE(packed.key);
    EXPECT_EQ(packed.bytes, (Bytes{0, 0, 0, 4, 0x65, 0x88, 0x84, 0x21}));
    EXPECT_EQ(sets.sps, (Bytes{0x67, 0x64, 0x00, 0x1F}));
    EXPECT_EQ(sets.pps, (Bytes{0x68, 0xEE}));
    EXPECT_EQ(collect_parameter_sets(sets), (std::vector<Bytes>{*sets.sps, *sets.pps}));

    const PackedOutput plain = find_nal_units(sets, Bytes{0, 0, 1, 0x41, 0x9A, 0, 0, 1, 0x01, 0x02});
    EXPECT_FALSE(plain.key);
    EXPECT_EQ(plain.bytes, (Bytes{0, 0, 0, 2, 0x41, 0x9A, 0, 0, 0, 2, 0x01, 0x02}));

    EXPECT_TRUE(find_nal_units(sets, Bytes{0, 0, 1, 0x09, 0x10, 0, 0, 1, 0x06, 1}).bytes.empty());
}

TEST(AnnexB, ParameterSetsFromTheSequenceHeader) {
    ParameterSets sets;
    store_parameter_sets(sets, Bytes{0, 0, 0, 1, 0x67, 1});
    EXPECT_TRUE(collect_parameter_sets(sets).empty());  // only an SPS so far
    store_parameter_sets(sets, Bytes{0, 0, 0, 1, 0x67, 2, 0, 0, 0, 1, 0x68, 3, 0, 0, 1, 0x65, 4});
    EXPECT_EQ(collect_parameter_sets(sets), (std::vector<Bytes>{{0x67, 2}, {0x68, 3}}));
    store_parameter_sets(sets, Bytes{});  // no header: unchanged
    EXPECT_EQ(sets.pps, (Bytes{0x68, 3}));
}

}  // namespace
}  // namespace vorlix
