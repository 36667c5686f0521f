#include "capture/duplication.h"

#include <gtest/gtest.h>

#include <deque>

namespace vorlix {
namespace {

// A scripted system side: each acquire takes the next step.
struct ScriptedSource : DuplicationSource {
    struct Step {
        AcquireOutcome outcome = AcquireTimedOut{};
        std::uint8_t fill = 0;  // the desktop image's byte value
        std::optional<CaptureError> copy_error;
        std::vector<DupMoveRect> moves;
        std::vector<DupRect> dirty;
        bool rects_fail = false;
        std::optional<std::pair<PointerShapeInfo, Bytes>> shape;  // none: the request fails
    };
    std::deque<Step> steps;
    Step current;
    int copies = 0;
    int releases = 0;
    bool frame_held = false;

    AcquireOutcome acquire(std::uint32_t) override {
        EXPECT_FALSE(frame_held) << "a frame was held between grabs";
        if (steps.empty()) return AcquireTimedOut{};
        current = steps.front();
        steps.pop_front();
        if (std::holds_alternative<AcquiredFrame>(current.outcome)) frame_held = true;
        return current.outcome;
    }
    std::optional<CaptureError> copy_image(std::uint8_t* clean, std::size_t w, std::size_t h) override {
        ++copies;
        if (current.copy_error) return current.copy_error;
        std::fill(clean, clean + w * h * 4, current.fill);
        return std::nullopt;
    }
    bool move_rects(std::span<DupMoveRect> into, std::uint32_t& bytes) override {
        if (current.rects_fail || into.size() < current.moves.size()) return false;
        std::copy(current.moves.begin(), current.moves.end(), into.begin());
        bytes = static_cast<std::uint32_t>(current.moves.size() * sizeof(DupMoveRect));
        return true;
    }
    bool dirty_rects(std::span<DupRect> into, std::uint32_t& bytes) override {
        if (current.rects_fail || into.size() < current.dirty.size()) return false;
        std::copy(current.dirty.begin(), current.dirty.end(), into.begin());
        bytes = static_cast<std::uint32_t>(current.dirty.size() * sizeof(DupRect));
        return true;
    }
    bool pointer_shape(std::span<std::uint8_t> into, PointerShapeInfo& info) override {
        if (!current.shape) return false;
        const Bytes& b = current.shape->second;
        std::copy(b.begin(), b.begin() + std::min(b.size(), into.size()), into.begin());
        info = current.shape->first;
        return true;
    }
    void release_frame() override {
        EXPECT_TRUE(frame_held);
        frame_held = false;
        ++releases;
    }
};

AcquiredFrame image_frame(std::int64_t present = 1, std::uint32_t meta = 0) {
    AcquiredFrame f;
    f.last_present_time = present;
    f.total_metadata_size = meta;
    return f;
}

AcquiredFrame pointer_frame(std::int32_t x, std::int32_t y, bool visible, std::uint32_t shape_size = 0) {
    AcquiredFrame f;
    f.last_present_time = 0;
    f.last_mouse_update_time = 5;
    f.pointer_x = x;
    f.pointer_y = y;
    f.pointer_visible = visible;
    f.pointer_shape_buffer_size = shape_size;
    return f;
}

// A 2x2 colour pointer of opaque red.
std::pair<PointerShapeInfo, Bytes> red_square() {
    PointerShapeInfo info{kPointerShapeColor, 2, 2, 8, 0, 0};
    Bytes b;
    for (int i = 0; i < 4; ++i) b.insert(b.end(), {0, 0, 255, 255});
    return {info, b};
}

struct Fixture {
    ScriptedSource* source = nullptr;
    std::unique_ptr<DuplicationCapture> capture;
    Fixture(std::size_t w = 8, std::size_t h = 4) {
        auto s = std::make_unique<ScriptedSource>();
        source = s.get();
        capture = std::make_unique<DuplicationCapture>(w, h, std::move(s));
    }
    void push(ScriptedSource::Step step) { source->steps.push_back(std::move(step)); }
    bool grab() {
        GrabResult r = capture->grab(20);
        EXPECT_TRUE(r.ok());
        return r.ok() && r.value();
    }
};

TEST(DuplicationGrab, FirstFrameIsCopiedWholeEvenWithoutAPresentTime) {
    Fixture f;
    EXPECT_EQ(f.capture->changed_fraction(), 1.0);
    EXPECT_FALSE(f.grab()) << "no picture yet: a time-out answers no";
    f.push({image_frame(0), 7});
    EXPECT_TRUE(f.grab());
    EXPECT_EQ(f.capture->changed_fraction(), 1.0);
    EXPECT_EQ(f.capture->pixels()[0], 7);
    EXPECT_EQ(f.source->releases, 1);
}

TEST(DuplicationGrab, LaterFramesMeasureMovesAndDirtyRectangles) {
    Fixture f(10, 10);
    f.push({image_frame(), 1});
    ASSERT_TRUE(f.grab());

    ScriptedSource::Step step{image_frame(2, 40), 2};
    step.dirty = {{0, 0, 5, 2}, {9, 9, 8, 8}};        // 10 pixels, and one inverted (0)
    step.moves = {{0, 0, {0, 5, 10, 7}}};               // 20 pixels
    f.push(step);
    ASSERT_TRUE(f.grab());
    EXPECT_DOUBLE_EQ(f.capture->changed_fraction(), 0.3);

    ScriptedSource::Step twice{image_frame(3, 32), 3};
    twice.dirty = {{0, 0, 10, 10}, {0, 0, 10, 10}};
    f.push(twice);
    ASSERT_TRUE(f.grab());
    EXPECT_DOUBLE_EQ(f.capture->changed_fraction(), 1.0) << "overlaps are capped at 1";

    ScriptedSource::Step failing{image_frame(4, 16), 4};
    failing.rects_fail = true;
    f.push(failing);
    ASSERT_TRUE(f.grab());
    EXPECT_DOUBLE_EQ(f.capture->changed_fraction(), 1.0);

    f.push({image_frame(5, 0), 5});
    ASSERT_TRUE(f.grab());
    EXPECT_DOUBLE_EQ(f.capture->changed_fraction(), 1.0) << "no metadata: the whole picture";
}

TEST(DuplicationGrab, PointerOnlyFramesDependOnDrawing) {
    Fixture f;
    f.push({image_frame(), 9});
    ASSERT_TRUE(f.grab());
    const int copies = f.source->copies;

    ScriptedSource::Step move{pointer_frame(1, 1, true)};
    f.push(move);
    EXPECT_TRUE(f.grab()) << "drawing on: a pointer move is a new picture";
    EXPECT_EQ(f.capture->changed_fraction(), 0.0);
    EXPECT_EQ(f.source->copies, copies) << "the clean picture is not copied again";

    f.capture->set_draw_cursor(false);
    EXPECT_TRUE(f.grab()) << "switching the drawing recomposes once on a time-out";
    EXPECT_FALSE(f.grab());

    f.push({pointer_frame(3, 2, true)});
    EXPECT_FALSE(f.grab()) << "drawing off: pointer moves are not pictures";
    EXPECT_EQ(f.capture->pointer().x, 3);
}

TEST(DuplicationGrab, SameDrawSettingChangesNothing) {
    Fixture f;
    f.push({image_frame(), 1});
    ASSERT_TRUE(f.grab());
    f.capture->set_draw_cursor(true);
    EXPECT_FALSE(f.grab());
}

TEST(DuplicationGrab, ShapesRaiseTheSerialWhetherOrNotDrawn) {
    Fixture f;
    f.push({image_frame(), 0});
    ASSERT_TRUE(f.grab());
    f.capture->set_draw_cursor(false);
    ASSERT_TRUE(f.grab());

    ScriptedSource::Step s1{pointer_frame(0, 0, true, 16)};
    s1.shape = red_square();
    f.push(s1);
    EXPECT_FALSE(f.grab());
    EXPECT_EQ(f.capture->pointer_shape_serial(), 1u);

    ScriptedSource::Step s2{pointer_frame(0, 0, true, 16)};
    f.push(s2);  // the shape request fails: the old shape stays
    EXPECT_FALSE(f.grab());
    EXPECT_EQ(f.capture->pointer_shape_serial(), 1u);
    EXPECT_EQ(f.capture->pointer().shape.size(), 16u);

    f.capture->set_draw_cursor(true);
    ScriptedSource::Step s3{pointer_frame(0, 0, true, 16)};
    s3.shape = red_square();
    f.push(s3);
    EXPECT_TRUE(f.grab());
    EXPECT_EQ(f.capture->pointer_shape_serial(), 2u);
    // The pointer is drawn into the composed picture, not the clean one.
    EXPECT_EQ(f.capture->pixels()[2], 255);
    EXPECT_EQ(f.capture->clean_picture()[2], 0);
}

TEST(DuplicationGrab, ErrorsReleaseTheFrameAndPassThrough) {
    Fixture f;
    f.push({CaptureError::lost()});
    GrabResult lost = f.capture->grab(20);
    ASSERT_FALSE(lost.ok());
    EXPECT_EQ(lost.error().kind, CaptureError::Kind::Lost);

    ScriptedSource::Step bad{image_frame(), 1};
    bad.copy_error = CaptureError::failed("map failed");
    f.push(bad);
    GrabResult failed = f.capture->grab(20);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().text, "map failed");
    EXPECT_EQ(f.source->releases, 1);
    EXPECT_FALSE(f.source->frame_held);
}

PointerState colour_pointer(std::int32_t x, std::int32_t y, std::uint8_t b, std::uint8_t g,
                            std::uint8_t r, std::uint8_t a, std::size_t w = 2, std::size_t h = 2) {
    PointerState p;
    p.type = kPointerShapeColor;
    p.visible = true;
    p.width = w;
    p.height = h;
    p.pitch = w * 4;
    p.x = x;
    p.y = y;
    for (std::size_t i = 0; i < w * h; ++i) p.shape.insert(p.shape.end(), {b, g, r, a});
    return p;
}

TEST(DrawPointerShape, ColourBlendsByAlphaAndLeavesTheFourthByte) {
    // Four pointer pixels of alpha 128, 255, 0 and 1 over a grey of 100; the
    // blend truncates: 100 * 254 + 50 is 25450, 99.8 times 255.
    PointerState p = colour_pointer(1, 1, 0, 0, 0, 0);
    p.shape = {255, 0, 200, 128, 10, 20, 30, 255, 10, 20, 30, 0, 200, 100, 50, 1};
    Bytes pic(4 * 4 * 4, 100);
    draw_pointer_shape(pic.data(), 4, 4, p);
    const auto at = [&](std::size_t x, std::size_t y) {
        const std::uint8_t* px = &pic[(y * 4 + x) * 4];
        return std::vector<int>(px, px + 4);
    };
    EXPECT_EQ(at(1, 1), (std::vector<int>{177, 49, 150, 100}));
    EXPECT_EQ(at(2, 1), (std::vector<int>{10, 20, 30, 100}));
    EXPECT_EQ(at(1, 2), (std::vector<int>{100, 100, 100, 100}));
    EXPECT_EQ(at(2, 2), (std::vector<int>{100, 100, 99, 100}));
    EXPECT_EQ(at(0, 0), (std::vector<int>{100, 100, 100, 100})) << "outside the pointer nothing changes";
}

TEST(DrawPointerShape, ClipsAtEveryEdge) {
    Bytes pic(3 * 3 * 4, 0);
    draw_pointer_shape(pic.data(), 3, 3, colour_pointer(-1, -1, 9, 9, 9, 255, 3, 3));
    draw_pointer_shape(pic.data(), 3, 3, colour_pointer(2, 2, 7, 7, 7, 255, 3, 3));
    EXPECT_EQ(pic[0], 9);
    EXPECT_EQ(pic[(1 * 3 + 1) * 4], 9);
    EXPECT_EQ(pic[(2 * 3 + 2) * 4], 7);
    EXPECT_EQ(pic[(0 * 3 + 2) * 4], 0);
}

TEST(DrawPointerShape, MonochromeUsesHalfTheHeightAndAllFourMaskCases) {
    // 8 wide, reported 4 high: 2 rows of AND mask, 2 rows of XOR mask.
    PointerState p;
    p.type = kPointerShapeMonochrome;
    p.visible = true;
    p.width = 8;
    p.height = 4;
    p.pitch = 1;
    p.shape = {0b11000000, 0b00000000,   // AND rows
               0b10100000, 0b00000000};  // XOR rows
    Bytes pic(8 * 3 * 4, 50);
    draw_pointer_shape(pic.data(), 8, 3, p);
    EXPECT_EQ(pic[0], 255 - 50) << "AND 1 XOR 1 inverts";
    EXPECT_EQ(pic[4], 50) << "AND 1 XOR 0 leaves";
    EXPECT_EQ(pic[8], 255) << "AND 0 XOR 1 is white";
    EXPECT_EQ(pic[12], 0) << "AND 0 XOR 0 is black";
    EXPECT_EQ(pic[8 * 4 * 2], 50) << "row 2 is past the drawn height";
}

TEST(DrawPointerShape, MaskedColourXorsOrReplaces) {
    PointerState p;
    p.type = kPointerShapeMaskedColor;
    p.visible = true;
    p.width = 2;
    p.height = 1;
    p.pitch = 8;
    p.shape = {0x0F, 0x0F, 0x0F, 0xFF, 1, 2, 3, 0};
    Bytes pic(2 * 4, 0xF0);
    draw_pointer_shape(pic.data(), 2, 1, p);
    EXPECT_EQ(pic[0], 0xFF);
    EXPECT_EQ(pic[4], 1);
    EXPECT_EQ(pic[6], 3);
}

// Regression: shape bytes shorter than pitch x height (or a pitch too small
// for the width) used to be read past their end.
TEST(DrawPointerShape, DrawsNothingWhenTheShapeBytesDoNotHoldTheShape) {
    Bytes pic(16 * 16 * 4, 33);
    const Bytes before = pic;

    PointerState short_colour = colour_pointer(0, 0, 1, 1, 1, 255, 4, 4);
    short_colour.shape.resize(4 * 4 * 3 + 12);  // one byte short of the last row
    draw_pointer_shape(pic.data(), 16, 16, short_colour);
    EXPECT_EQ(pic, before);

    PointerState narrow_pitch = colour_pointer(0, 0, 1, 1, 1, 255, 4, 4);
    narrow_pitch.pitch = 8;
    draw_pointer_shape(pic.data(), 16, 16, narrow_pitch);
    EXPECT_EQ(pic, before);

    PointerState mono;
    mono.type = kPointerShapeMonochrome;
    mono.visible = true;
    mono.width = 16;
    mono.height = 32;
    mono.pitch = 1;  // 8 bits cannot hold 16 columns
    mono.shape.assign(64, 0);
    draw_pointer_shape(pic.data(), 16, 16, mono);
    EXPECT_EQ(pic, before);
    mono.pitch = 2;
    mono.shape.assign(63, 0);  // needs 16 x 2 x 2 = 64
    draw_pointer_shape(pic.data(), 16, 16, mono);
    EXPECT_EQ(pic, before);

    PointerState huge = colour_pointer(0, 0, 1, 1, 1, 255);
    huge.pitch = SIZE_MAX / 2;
    huge.height = 3;
    draw_pointer_shape(pic.data(), 16, 16, huge);
    EXPECT_EQ(pic, before);

    // Exactly enough bytes draws.
    PointerState exact = colour_pointer(0, 0, 1, 1, 1, 255, 4, 4);
    draw_pointer_shape(pic.data(), 16, 16, exact);
    EXPECT_EQ(pic[0], 1);
}

TEST(DrawPointerShape, HiddenOrEmptyDrawsNothing) {
    Bytes pic(4 * 4 * 4, 33);
    const Bytes before = pic;
    PointerState hidden = colour_pointer(0, 0, 1, 1, 1, 255);
    hidden.visible = false;
    draw_pointer_shape(pic.data(), 4, 4, hidden);
    PointerState mono_one_row = colour_pointer(0, 0, 1, 1, 1, 255);
    mono_one_row.type = kPointerShapeMonochrome;
    mono_one_row.height = 1;  // drawn height 0
    draw_pointer_shape(pic.data(), 4, 4, mono_one_row);
    EXPECT_EQ(pic, before);
}

TEST(PointerShapeImage, ConvertsByTypeAndHalvesMonochrome) {
    PointerState p;
    EXPECT_FALSE(pointer_state_image(p).has_value());
    p.type = kPointerShapeMonochrome;
    p.width = 32;
    p.height = 64;
    p.pitch = 4;
    p.shape.assign(4 * 64, 0);
    auto mono = pointer_state_image(p);
    ASSERT_TRUE(mono.has_value());
    EXPECT_EQ(mono->width, 32u);
    EXPECT_EQ(mono->height, 32u);

    PointerState c = colour_pointer(0, 0, 0, 0, 255, 255);
    c.hot_x = 40;
    c.hot_y = 1;
    auto colour = pointer_state_image(c);
    ASSERT_TRUE(colour.has_value());
    EXPECT_EQ(colour->pixels[0], 255) << "RGBA: red first";
    EXPECT_EQ(colour->hot_x, 1u);
}

}  // namespace
}  // namespace vorlix
