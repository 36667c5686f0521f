#include <array>
#include <string>

#include <gtest/gtest.h>

#include "json/base64.h"
#include "support/update_fixture.h"
#include "support/zip_writer.h"
#include "update/verify.h"
#include "update/zip_reader.h"

namespace vorlix {
namespace {

using testing::pe_program;
using testing::write_zip;
using testing::ZipEntry;

std::string package_error(const Bytes& zip) {
    const auto files = check_package_zip(zip);
    return files ? "" : files.error().text;
}

TEST(UpdateArchive, ReadsWantedFilesAndRefusesDamage) {
    const Bytes exe = pe_program(0x8664, 5000);
    const Bytes dll(3000, 7);
    const Bytes good = write_zip({{"readme.txt", Bytes(10, 'r')}, {"vorlix.EXE", exe, true}, {"VorLixCamera.dll", dll}},
                                 std::string(65535, 'c'));
    const auto files = check_package_zip(good);
    ASSERT_TRUE(files) << files.error().text;
    EXPECT_EQ(*files, (std::vector<ZipFile>{{"Vorlix.exe", exe}, {"VorLixCamera.dll", dll}}));

    Bytes far_end = write_zip({{"Vorlix.exe", exe}}, std::string(65535, 'c'));
    far_end.push_back(0);
    Bytes truncated = good;
    truncated.erase(truncated.begin() + 100, truncated.begin() + 120);
    const struct { Bytes zip; std::string error; } cases[] = {
        {far_end, "the zip is damaged (no directory)"},
        {Bytes(21, 0), "the zip is damaged (no directory)"},
        {truncated, "the zip is damaged (entry)"},
        {write_zip({{"Vorlix.exe", exe, false, true}}), "the zip is damaged (checksum)"},
        {write_zip({{"Vorlix.exe", exe, false, false, true}}), "the zip is damaged (encrypted)"},
        {write_zip({{"Vorlix.exe", exe, false, false, false, 12}}), "the zip uses compression 12"},
        {write_zip({{"Vorlix.exe", exe, false, false, false, 8}}), "the zip is damaged (deflate)"},
        // A sound stream that ends one byte short of the stated size.
        {write_zip({{.name = "Vorlix.exe", .content = exe, .deflate = true, .long_size = true}}),
         "the zip is damaged (checksum)"},
        {write_zip({{"VorLixCamera.dll", dll}, {"notes.txt", exe}}), "the zip has no Vorlix.exe"},
        {write_zip({{"Vorlix.exe", Bytes(200, 'M')}}), "the zip's Vorlix.exe is not a Windows program"},
        {write_zip({{"Vorlix.exe", pe_program(0x014c)}}), "the zip's Vorlix.exe is for another kind of PC (machine 0x014c)"},
    };
    for (const auto& c : cases) EXPECT_EQ(package_error(c.zip), c.error);
}

// Names match without regard to case, so a second "VORLIX.EXE" is the same
// wanted file: only the first, checked one may be installed.
TEST(UpdateArchive, KeepsTheFirstEntryOfEachName) {
    const Bytes exe = pe_program(0x8664);
    const Bytes other = pe_program(0x8664, 300);
    const auto files = check_package_zip(write_zip({{"Vorlix.exe", exe}, {"VorLixCamera.dll", Bytes{1}},
                                                    {"VORLIX.EXE", other}, {"vorlixcamera.dll", Bytes{2}, false, true}}));
    ASSERT_TRUE(files) << files.error().text;
    EXPECT_EQ(*files, (std::vector<ZipFile>{{"Vorlix.exe", exe}, {"VorLixCamera.dll", Bytes{1}}}));
}

// The program's version resource must name the offered version; the
// padded form of the same version is the same.
TEST(UpdateArchive, TheProgramCarriesTheOfferedVersion) {
    const Bytes exe = pe_program(0x8664, 256, "1.3.4");
    Bytes cut = exe;
    cut.resize(cut.size() - 40);
    const struct { Bytes program; std::string offered; std::string error; } cases[] = {
        {exe, "1.3.4", ""},
        {exe, " 1.3.4.0 ", ""},
        {exe, "9.9.9", "the zip's Vorlix.exe is version 1.3.4, not 9.9.9"},
        {exe, "1.3.5", "the zip's Vorlix.exe is version 1.3.4, not 1.3.5"},
        {exe, "1.3.4.1", "the zip's Vorlix.exe is version 1.3.4, not 1.3.4.1"},
        {testing::with_file_version(exe, "1.2"), "1.3.4", "the zip's Vorlix.exe is version 1.2, not 1.3.4"},
        {pe_program(0x8664, 256, " "), "1.3.4", "the zip's Vorlix.exe carries no version"},
        {pe_program(0x8664), "1.3.4", "the zip's Vorlix.exe carries no version"},
        {cut, "1.3.4", "the zip's Vorlix.exe carries no version"},
    };
    for (const auto& c : cases) {
        const Result<void> checked = check_program_version({{"Vorlix.exe", c.program}}, c.offered);
        EXPECT_EQ(checked ? "" : checked.error().text, c.error) << c.offered;
    }
}

TEST(UpdateVerify, SizeDigestAndStrictSignature) {
    const Bytes archive = write_zip({{"Vorlix.exe", pe_program(0x8664)}});
    const Key32 key = testing::update_test_keys().public_key;
    const Download good = testing::signed_download(archive, "http://127.0.0.1/a.zip");
    const auto error_of = [&](ByteView bytes, const Download& d) {
        const Result<void> r = verify_download(bytes, d, key);
        return r ? std::string() : r.error().text;
    };
    Download upper = good;
    for (char& c : upper.sha256) c = static_cast<char>(std::toupper(c));
    upper.signature = "\t" + upper.signature + " ";
    EXPECT_EQ(error_of(archive, upper), "");

    Bytes flipped = archive;
    flipped[40] ^= 1;
    Download flipped_d = good;
    flipped_d.sha256 = hex_digest(sha256(flipped));
    EXPECT_EQ(error_of(flipped, flipped_d), "the signature does not match");
    EXPECT_EQ(error_of(ByteView(archive).first(archive.size() - 1), good),
              "the download is " + std::to_string(archive.size() - 1) + " bytes, not " + std::to_string(archive.size()));
    Download other_hash = good;
    other_hash.sha256[0] = other_hash.sha256[0] == '0' ? '1' : '0';
    EXPECT_EQ(error_of(archive, other_hash), "the download's SHA-256 does not match");
    Download short_sig = good;
    short_sig.signature = base64_encode(Bytes(63, 1));
    EXPECT_EQ(error_of(archive, short_sig), "the signature is not 64 bytes");

    // S + L verifies under the lax check and must not here.
    Bytes sig = *base64_decode(good.signature);
    const std::uint8_t order[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                    0xa2, 0xde, 0xf9, 0xde, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10};
    unsigned carry = 0;
    for (int i = 0; i < 32; ++i) {
        carry += sig[32 + i] + order[i];
        sig[32 + i] = static_cast<std::uint8_t>(carry);
        carry >>= 8;
    }
    Download malleable = good;
    malleable.signature = base64_encode(sig);
    EXPECT_EQ(error_of(archive, malleable), "the signature does not match");

    // A small-order and a non-canonical point as the key (as R: below).
    Key32 identity{};
    identity[0] = 1;
    Key32 above_p{};
    above_p.fill(0xff);
    above_p[31] = 0x7f;
    for (const Key32& bad : {identity, above_p}) EXPECT_FALSE(decode_update_key(base64_encode(bad)));
    EXPECT_EQ(decode_update_key(base64_encode(key)), key);
}

template <std::size_t N>
std::array<std::uint8_t, N> from_hex(std::string_view hex) {
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    return out;
}

// Signatures whose S solves [S]B = R + [k]A, k = SHA-512(R, A, message) mod
// L, for an R of small order or written non-canonically: the cofactorless
// equation holds, only the strict rules refuse them. Worked out with Python's
// hashlib and its own integer arithmetic on edwards25519 (RFC 8032): a is the
// tests' update-signing scalar (seed 0x5a ^ 7i), S = k * a mod L; where R has
// order 8 or 2 the key is A + T8 (T8 the order-8 point with y = 0x26e8...05)
// and the message was chosen so that R = -[k]T8.
TEST(UpdateVerify, SmallOrderOrNonCanonicalRIsRefusedWithASolvingS) {
    const std::string tests_key = "195a7e6fe8ffcea12260e4c4666b40037b839d319a626f37e2ff2bdc48d4279f";
    const std::string mixed_key = "0ebc0e79f77936f746a97742b0d0a22201950cc9f138693ee84b58e4337c87e9";
    const struct { const char* what; std::string key; std::string message; std::string signature; } cases[] = {
        {"R is the identity", tests_key, "R is the identity",
         "0100000000000000000000000000000000000000000000000000000000000000"
         "d68ef6691cd0adc1947520e3d461c12ff36a65b44708283188cf74e92156ff04"},
        {"R is the identity written as p + 1", tests_key, "R is the identity written as p + 1",
         "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"
         "165414cd7ccffde77c64ef0d44b1b110e5e3dbb5f6e6bf9a7958b2a4f3991407"},
        {"R has order 8", mixed_key, "R has small order, try 20",
         "26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05"
         "d7498494dbb3cb741ccbc58c7b4fbb6fa8a7c5637cef5944f39fe5a73c16f00b"},
        {"R has order 2", mixed_key, "R has small order, try 7",
         "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"
         "36d2ff1d06ba4df6b476deaa30a90078310508a976b24fa3e4d03ca66b15f50d"},
    };
    for (const auto& c : cases) {
        const Key32 key = from_hex<32>(c.key);
        const Signature64 signature = from_hex<64>(c.signature);
        EXPECT_TRUE(ed25519_verify_long(key, to_bytes(c.message), signature)) << c.what << ": the equation holds";
        EXPECT_FALSE(ed25519_verify_strict(key, to_bytes(c.message), signature)) << c.what;
    }
}

// libgcrypt takes messages of at most 64 KiB; the curve-level pair agrees
// with it below that and keeps working above.
TEST(UpdateVerify, SignaturesOverLongArchives) {
    const Ed25519KeyPair keys = testing::update_test_keys();
    for (std::size_t size : {std::size_t{0}, std::size_t{1000}, std::size_t{70000}, std::size_t{3} << 20}) {
        Bytes message(size);
        for (std::size_t i = 0; i < size; ++i) message[i] = static_cast<std::uint8_t>((i * 131) >> 3);
        const Signature64 signature = ed25519_sign_long(keys, message);
        if (size < 65536) {
            EXPECT_EQ(signature, ed25519_sign(keys, message)) << size;
        }
        EXPECT_TRUE(ed25519_verify_long(keys.public_key, message, signature)) << size;
        if (size == 0) continue;
        message[size / 2] ^= 1;
        EXPECT_FALSE(ed25519_verify_long(keys.public_key, message, signature)) << size;
    }
}

}  // namespace
}  // namespace vorlix
