#include "capture/open_capture.h"

#include "capture/duplication.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

struct SizedBackend : CaptureBackend {
    std::string_view backend_name;
    PictureSize picture;
    SizedBackend(std::string_view n, std::size_t w, std::size_t h) : backend_name(n), picture{w, h} {}
    PictureSize size() const override { return picture; }
    GrabResult grab(std::uint32_t) override { return false; }
    ByteView pixels() const override { return {}; }
    std::string_view name() const override { return backend_name; }
    void set_draw_cursor(bool) override {}
    std::uint64_t pointer_shape_serial() const override { return 0; }
    std::optional<CursorImage> pointer_shape() const override { return std::nullopt; }
    double changed_fraction() const override { return 1; }
};

struct Openers {
    std::vector<std::string> log;
    int gdi_opened = 0;
    int dup_opened = 0;
    std::optional<CaptureError> dup_error;
    PictureSize dup_size{1920, 1080};
    std::optional<std::string> gdi_error;

    CaptureOpeners make() {
        CaptureOpeners o;
        o.open_gdi = [this](const MonitorInfo& m) -> Result<CaptureBackendPtr> {
            ++gdi_opened;
            if (gdi_error) return Error(*gdi_error);
            return CaptureBackendPtr(std::make_unique<SizedBackend>(kGdiName, m.width, m.height));
        };
        o.open_duplication = [this](const MonitorInfo&) -> CaptureResult<CaptureBackendPtr> {
            ++dup_opened;
            if (dup_error) return *dup_error;
            return CaptureBackendPtr(std::make_unique<SizedBackend>(kDesktopDuplicationName,
                                                                    dup_size.width, dup_size.height));
        };
        o.log = [this](std::string_view line) { log.emplace_back(line); };
        return o;
    }
};

const MonitorInfo kMonitor{1, 0, 0, 1920, 1080, 96};

TEST(CaptureChoice, OnlyLowerCaseGdiForcesGdi) {
    EXPECT_TRUE(capture_forced_to_gdi("gdi"));
    for (const char* v : {"GDI", " gdi", "gdi ", "", "dxgi"}) EXPECT_FALSE(capture_forced_to_gdi(std::string(v))) << v;
    EXPECT_FALSE(capture_forced_to_gdi(std::nullopt));
}

TEST(CaptureChoice, DesktopDuplicationOfTheMonitorsSizeIsTaken) {
    Openers o;
    auto r = choose_capture(kMonitor, false, o.make());
    ASSERT_TRUE(r.ok());
    EXPECT_EQ((*r)->name(), kDesktopDuplicationName);
    EXPECT_EQ(o.gdi_opened, 0);
    EXPECT_TRUE(o.log.empty());
}

TEST(CaptureChoice, ForcedGdiNeverTriesDuplication) {
    Openers o;
    auto r = choose_capture(kMonitor, true, o.make());
    ASSERT_TRUE(r.ok());
    EXPECT_EQ((*r)->name(), kGdiName);
    EXPECT_EQ(o.dup_opened, 0);
    EXPECT_EQ(choose_desktop_duplication(kMonitor, true, o.make()), nullptr);
    EXPECT_EQ(o.dup_opened, 0);
}

TEST(CaptureChoice, UnavailableDuplicationIsLoggedAndGdiTakesOver) {
    Openers o;
    o.dup_error = CaptureError::failed("Not \"implemented\"");
    auto r = choose_capture(kMonitor, false, o.make());
    ASSERT_TRUE(r.ok());
    EXPECT_EQ((*r)->name(), kGdiName);
    ASSERT_EQ(o.log.size(), 1u);
    EXPECT_EQ(o.log[0], "Desktop Duplication unavailable (Failed(\"Not \\\"implemented\\\"\")); using GDI capture");

    o.dup_error = CaptureError::lost();
    o.gdi_error = "CreateDIBSection: out of memory";
    auto failed = choose_capture(kMonitor, false, o.make());
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().text, "CreateDIBSection: out of memory");
    EXPECT_EQ(o.log[1], "Desktop Duplication unavailable (Lost); using GDI capture");
}

TEST(CaptureChoice, DuplicationOfAnotherSizeGivesGdiAndOneLine) {
    Openers o;
    o.dup_size = {1080, 1920};
    auto r = choose_capture(kMonitor, false, o.make());
    ASSERT_TRUE(r.ok());
    EXPECT_EQ((*r)->name(), kGdiName);
    ASSERT_EQ(o.log.size(), 1u);
    EXPECT_EQ(o.log[0], "Desktop Duplication size 1080x1920 differs from the monitor 1920x1080 (rotated?); using GDI");
    EXPECT_EQ(choose_desktop_duplication(kMonitor, false, o.make()), nullptr);
    EXPECT_EQ(o.log.size(), 1u) << "going back never logs";
}

TEST(CaptureChoice, ARotatedOutputGivesGdiAndIsNotGoneBackTo) {
    // A half turn keeps the monitor's size; only the rotation tells.
    const std::pair<std::uint32_t, const char*> cases[] = {
        {kOutputRotationUnspecified, nullptr}, {kOutputRotationIdentity, nullptr}, {kOutputRotation90, "90"},
        {kOutputRotation180, "180"},           {kOutputRotation270, "270"}};
    for (const auto& [rotation, degrees] : cases) {
        Openers o;
        o.dup_error = rotated_output_error(rotation);
        auto r = choose_capture(kMonitor, false, o.make());
        ASSERT_TRUE(r.ok());
        EXPECT_EQ((*r)->name(), degrees ? kGdiName : kDesktopDuplicationName) << rotation;
        EXPECT_EQ(choose_desktop_duplication(kMonitor, false, o.make()) == nullptr, degrees != nullptr) << rotation;
        if (!degrees) continue;
        ASSERT_EQ(o.log.size(), 1u);
        EXPECT_EQ(o.log[0], std::string("Desktop Duplication unavailable (Failed(\"the output is rotated by ") + degrees +
                                " degrees\")); using GDI capture");
    }
}

TEST(CaptureChoice, GoingBackGivesDuplicationOfTheRightSizeOrNothing) {
    Openers o;
    auto back = choose_desktop_duplication(kMonitor, false, o.make());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->name(), kDesktopDuplicationName);
    o.dup_error = CaptureError::lost();
    EXPECT_EQ(choose_desktop_duplication(kMonitor, false, o.make()), nullptr);
    EXPECT_TRUE(o.log.empty());
}

TEST(CaptureError, DebugFormEscapes) {
    EXPECT_EQ(debug_form(CaptureError::lost()), "Lost");
    EXPECT_EQ(debug_form(CaptureError::failed("a\\b\n")), "Failed(\"a\\\\b\\n\")");
}

}  // namespace
}  // namespace vorlix
