#include "capture/cursor_report.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "capture/cursor_png.h"
#include "json/base64.h"
#include "json/json.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

struct ManualClock : LoopClock {
    Instant t = Instant{} + 1h;
    Instant now() override { return t; }
    void sleep_for(Duration d) override { t += d; }
};

// A cursor handle whose picture cannot be read.
constexpr std::uintptr_t kUnreadable = 0x66;

struct FakePointer : PointerSource {
    std::optional<SystemPointer> pointer = SystemPointer{true, 110, 60, 0x55};
    std::optional<Instant> moved;
    int images = 0;
    std::optional<SystemPointer> read() override { return pointer; }
    std::optional<CursorImage> cursor_image(std::uintptr_t handle) override {
        ++images;
        if (handle == kUnreadable) return std::nullopt;
        CursorImage c;
        c.width = 2;
        c.height = 2;
        c.pixels.assign(16, static_cast<std::uint8_t>(handle));
        c.hot_x = 1;
        return c;
    }
    std::optional<Instant> last_relative_move() override { return moved; }
};

struct ShapeBackend : CaptureBackend {
    std::uint64_t serial = 0;
    PictureSize size() const override { return {200, 100}; }
    GrabResult grab(std::uint32_t) override { return false; }
    ByteView pixels() const override { return {}; }
    std::string_view name() const override { return "GDI"; }
    void set_draw_cursor(bool) override {}
    std::uint64_t pointer_shape_serial() const override { return serial; }
    std::optional<CursorImage> pointer_shape() const override {
        CursorImage c;
        c.width = c.height = 1;
        c.pixels = {1, 2, 3, 255};
        c.hot_y = 0;
        return c;
    }
    double changed_fraction() const override { return 0; }
};

struct MessageAudience : StreamAudience {
    std::vector<Json> sent;
    bool closed() override { return false; }
    bool must_wait(Instant) override { return false; }
    std::optional<std::uint64_t> best_delivered_rate() override { return std::nullopt; }
    std::optional<std::uint64_t> acked_rate() override { return std::nullopt; }
    std::size_t send_output(ParameterSets&, VideoEncoder&, const EncodedOutput&, std::uint32_t&, Instant, bool,
                            Instant) override {
        return 0;
    }
    void announce(const StreamGeometry&, std::uint32_t, std::int64_t) override {}
    void picture_stopped(std::uint8_t) override {}
    void notice(std::string_view) override {}
    void send_to_all(const std::string& message) override {
        auto parsed = parse_json(message, DuplicateKeys::refuse);
        ASSERT_TRUE(parsed.ok()) << message;
        sent.push_back(parsed.value());
    }
    std::vector<std::string> kinds() const {
        std::vector<std::string> out;
        for (const auto& m : sent) out.push_back(m.begin().key());
        return out;
    }
};

struct ReporterFixture {
    ManualClock clock;
    FakePointer pointer;
    ShapeBackend backend;
    MessageAudience audience;
    StreamGeometry geometry;
    CursorReporter reporter{pointer, clock};
    ReporterFixture() { geometry.monitor = MonitorInfo{1, 10, 10, 200, 100, 144}; }
    void send() { reporter.send(backend, geometry, audience); }
};

TEST(CursorReporter, SendsTheShapeOnceAndThePositionAsAFraction) {
    ReporterFixture f;
    f.send();
    ASSERT_EQ(f.audience.kinds(), (std::vector<std::string>{"cursorShape", "pointer"}));
    const Json& shape = f.audience.sent[0]["cursorShape"];
    EXPECT_EQ(shape["hotX"], 1.0);
    EXPECT_EQ(shape["scale"], 1.5);
    auto png = base64_decode(shape["png"].get<std::string>());
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ((*png)[1], 'P');
    EXPECT_EQ(f.audience.sent[1]["pointer"]["x"], 0.5);
    EXPECT_EQ(f.audience.sent[1]["pointer"]["y"], 0.5);

    f.clock.t += 20ms;
    f.send();
    EXPECT_EQ(f.audience.sent.size(), 2u) << "nothing changed";
    EXPECT_EQ(f.pointer.images, 1);

    // A shape that cannot be read is tried once, not at every frame.
    f.pointer.pointer->handle = kUnreadable;
    for (int i = 0; i < 3; ++i) f.send();
    EXPECT_EQ(f.pointer.images, 2);
    EXPECT_EQ(f.audience.sent.size(), 2u);
    f.pointer.pointer->handle = 0x55;
    f.send();
    EXPECT_EQ(f.pointer.images, 3);
    ASSERT_EQ(f.audience.kinds().back(), "cursorShape");
    f.audience.sent.pop_back();

    f.pointer.pointer->x = 60;
    f.clock.t += 5ms;
    f.send();
    ASSERT_EQ(f.audience.sent.size(), 3u);
    EXPECT_EQ(f.audience.sent[2]["pointer"]["x"], 0.25);
    f.pointer.pointer->x = 160;
    f.clock.t += 10ms;
    f.send();
    EXPECT_EQ(f.audience.sent.size(), 3u) << "positions at most every 16 ms";
    f.clock.t += 6ms;
    f.send();
    ASSERT_EQ(f.audience.sent.size(), 4u);
    EXPECT_EQ(f.audience.sent[3]["pointer"]["x"], 0.75);
}

TEST(CursorReporter, HidingSendsAnEmptyShapeOnceAndShowingSendsItAgain) {
    ReporterFixture f;
    f.send();
    f.pointer.pointer->visible = false;
    f.send();
    f.send();
    ASSERT_EQ(f.audience.kinds(), (std::vector<std::string>{"cursorShape", "pointer", "cursorShape"}));
    const Json& empty = f.audience.sent[2]["cursorShape"];
    EXPECT_EQ(empty["png"], "");
    EXPECT_EQ(empty["hotX"], 0.0);
    EXPECT_EQ(empty["scale"], 1.5);

    f.pointer.pointer->visible = true;
    f.pointer.pointer->x = 500;  // outside the monitor: still hidden
    f.send();
    EXPECT_EQ(f.audience.sent.size(), 3u);
    f.pointer.pointer->x = 110;
    f.clock.t += 20ms;
    f.send();
    EXPECT_EQ(f.audience.kinds().back(), "cursorShape");
}

TEST(CursorReporter, BackEndShapesAndResetsResendTheShape) {
    ReporterFixture f;
    f.backend.serial = 3;
    f.send();
    EXPECT_EQ(f.pointer.images, 0) << "a back-end that tracks shapes gives them";
    f.clock.t += 20ms;
    f.send();
    f.backend.serial = 4;
    f.clock.t += 20ms;
    f.send();
    f.reporter.reset();
    f.clock.t += 20ms;
    f.send();
    EXPECT_EQ(f.audience.kinds(),
              (std::vector<std::string>{"cursorShape", "pointer", "cursorShape", "cursorShape", "pointer"}));
}

TEST(CursorReporter, NoPositionWhileTheDeviceMovesThePointer) {
    ReporterFixture f;
    f.pointer.moved = f.clock.t - 100ms;
    f.send();
    EXPECT_EQ(f.audience.kinds(), (std::vector<std::string>{"cursorShape"}));
    f.clock.t += 200ms;
    f.send();
    EXPECT_EQ(f.audience.kinds().back(), "pointer");
    f.pointer.pointer.reset();
    f.send();
    EXPECT_EQ(f.audience.sent.size(), 2u) << "an unreadable pointer sends nothing";
}

TEST(CursorPng, IsAValidRgbaPng) {
    CursorImage image;
    image.width = 3;
    image.height = 2;
    for (int i = 0; i < 6; ++i) image.pixels.insert(image.pixels.end(), {std::uint8_t(i), 20, 30, 255});
    auto png = cursor_png(image);
    ASSERT_TRUE(png.has_value());
    const Bytes& p = *png;
    ASSERT_GT(p.size(), 8u + 25 + 12);
    EXPECT_EQ(Bytes(p.begin(), p.begin() + 8), (Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}));
    // Chunks: each CRC covers type and data.
    std::size_t at = 8;
    Bytes idat;
    std::vector<std::string> types;
    while (at + 12 <= p.size()) {
        const std::uint32_t len = get_u32_be(&p[at]);
        const std::string type(p.begin() + at + 4, p.begin() + at + 8);
        types.push_back(type);
        uLong crc = crc32(0L, Z_NULL, 0);
        crc = crc32(crc, &p[at + 4], len + 4);
        EXPECT_EQ(get_u32_be(&p[at + 8 + len]), static_cast<std::uint32_t>(crc)) << type;
        if (type == "IHDR") {
            EXPECT_EQ(get_u32_be(&p[at + 8]), 3u);
            EXPECT_EQ(get_u32_be(&p[at + 12]), 2u);
            EXPECT_EQ(p[at + 16], 8);
            EXPECT_EQ(p[at + 17], 6);
        }
        if (type == "IDAT") idat.assign(p.begin() + at + 8, p.begin() + at + 8 + len);
        at += 12 + len;
    }
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    Bytes raw(2 * (1 + 12));
    uLongf raw_size = raw.size();
    ASSERT_EQ(uncompress(raw.data(), &raw_size, idat.data(), idat.size()), Z_OK);
    EXPECT_EQ(raw_size, raw.size());
    EXPECT_EQ(raw[0], 0);
    EXPECT_EQ(raw[1 + 4], 1) << "second pixel's red";
    EXPECT_EQ(raw[13 + 1], 3);

    CursorImage broken = image;
    broken.pixels.pop_back();
    EXPECT_FALSE(cursor_png(broken).has_value());
    EXPECT_FALSE(cursor_png(CursorImage{}).has_value());
}

}  // namespace
}  // namespace vorlix
