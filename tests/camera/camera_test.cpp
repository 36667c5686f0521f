#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "camera/camera_service.h"

namespace vorlix {
namespace {

using namespace camera_section;

// A section in memory that the component would have made, a fake clock and
// the lines written.
struct MemorySection : CameraSectionPort {
    std::vector<std::uint64_t> memory = std::vector<std::uint64_t>(kCameraSectionBytes / 8);
    std::uint64_t now = 1000;
    int opens = 0;
    std::vector<std::string> lines;

    explicit MemorySection(std::uint32_t version = kCameraVersion) {
        const std::uint32_t header[] = {kCameraMagic, version, kCameraWidth, kCameraHeight};
        std::memcpy(memory.data(), header, sizeof header);
    }
    std::span<std::uint8_t> bytes() { return {reinterpret_cast<std::uint8_t*>(memory.data()), kCameraSectionBytes}; }
    template <typename T>
    T at(std::size_t offset) {
        T value;
        std::memcpy(&value, bytes().data() + offset, sizeof value);
        return value;
    }
    std::optional<std::span<std::uint8_t>> open() override { return ++opens, bytes(); }
    void close() override {}
    std::uint64_t tick_ms() override { return now; }
    std::uint32_t process_id() override { return 4242; }
    void log(std::string_view line) override { lines.emplace_back(line); }
};

// Waits like the system would: each wait runs the next scripted step (a
// producer, or nothing so that the wait times out and the clock moves on).
struct ClockedWaker : CameraWaker {
    std::vector<std::function<void()>> steps;
    std::size_t waits = 0, wakes = 0, timeouts = 0;
    std::uint64_t* clock = nullptr;
    void wait(std::atomic<std::uint32_t>& counter, std::uint32_t noted, std::chrono::milliseconds timeout) override {
        if (timeout != std::chrono::milliseconds(500) || counter.load() != noted || waits == steps.size()) {
            ADD_FAILURE() << "wait " << waits << ": " << timeout.count() << " ms, noted " << noted << " of "
                          << counter.load() << ", " << steps.size() << " steps";
            throw std::logic_error("a wait that nothing ends");
        }
        if (steps[waits++]) steps[waits - 1]();
        if (counter.load() == noted) ++timeouts, *clock += timeout.count();
    }
    void wake_all(std::atomic<std::uint32_t>&) override { ++wakes; }
};

// "Decodes" a picture whose first byte is a grey level into a full frame of it.
struct GreyDecoder : CameraDecoder {
    Bytes frame = Bytes(kCameraBgraBytes);
    std::optional<ByteView> decode(ByteView bytes) override {
        if (bytes.empty()) return std::nullopt;
        std::fill(frame.begin(), frame.end(), bytes[0]);
        return ByteView(frame);
    }
};

CameraPicture picture_of(std::uint8_t grey) { return CameraPicture{Bytes{grey}, 64, 48, 0}; }

TEST(CameraFrames, FitsEveryShapeCentredWithoutCropping) {
    struct Case { std::uint32_t w, h; CameraFit fit; };
    for (const Case& c : std::vector<Case>{{1280, 720, {1280, 720, 0, 0}},
                                           {640, 480, {960, 720, 160, 0}},
                                           {720, 1280, {405, 720, 437, 0}},
                                           {4000, 100, {1280, 32, 0, 344}},
                                           {60000, 1, {1280, 1, 0, 359}},
                                           {3, 3, {720, 720, 280, 0}}}) {
        EXPECT_EQ(fit_in_camera(c.w, c.h), c.fit) << c.w << "x" << c.h;
    }
    EXPECT_EQ(fit_in_camera(0, 720), std::nullopt);

    // A white 2x720 picture lands in the middle two columns, the rest black.
    Bytes frame(kCameraBgraBytes, 7), white(2 * 720 * 4, 255);
    const CameraFit tall{2, 720, 639, 0};
    ASSERT_TRUE(letterbox_into_frame(tall, white, frame));
    for (std::uint32_t x : {0u, 638u, 639u, 640u, 641u, 1279u})
        EXPECT_EQ(frame[(719 * kCameraWidth + x) * 4], (x == 639 || x == 640) ? 255 : 0) << x;
    EXPECT_FALSE(letterbox_into_frame({2, 721, 0, 0}, white, frame));
}

TEST(CameraFrames, WriterRefusesAnotherVersionOnceAndRetriesEvery500Ms) {
    MemorySection section(2);
    CameraWriter writer(section);
    Bytes frame(kCameraBgraBytes, 128);
    for (std::uint64_t now : {1000, 1200, 1500, 1600}) {
        section.now = now;
        writer.write_frame(frame);
    }
    EXPECT_EQ(section.opens, 2);
    EXPECT_EQ(section.lines, std::vector<std::string>{
                                 "camera: the installed VorLix Camera speaks another version: set it up again"});
    EXPECT_EQ(section.at<std::uint64_t>(picture_counter), 0u);
    EXPECT_EQ(section.at<std::uint32_t>(host_pid), 0u);
}

TEST(CameraFrames, ABufferLeftMidPictureByAnEarlierHostIsCompletedFirst) {
    MemorySection section;
    const std::uint64_t left[] = {7, 5};  // each buffer left mid-picture by an earlier host
    std::memcpy(section.bytes().data() + sequence_0, left, sizeof left);
    CameraWriter writer(section);
    Bytes frame(kCameraBgraBytes, 128);
    writer.write_frame(frame);  // into buffer 1
    writer.write_frame(frame);  // into buffer 0
    EXPECT_EQ(std::vector({section.at<std::uint64_t>(sequence_0), section.at<std::uint64_t>(sequence_1)}),
              std::vector<std::uint64_t>({10, 8}));
}

struct ScriptedMaker : VirtualCameraMaker {
    std::optional<std::string> dll;
    std::vector<CameraStatus> answers;
    std::size_t creates = 0;
    std::optional<std::string> registered_dll() override { return dll; }
    CameraStatus create() override { return answers.at(creates++); }
};

TEST(CameraService, ThreadWaitsThroughSetUpThenDeliversTheNewestPictures) {
    ClockedWaker waker;
    MemorySection section;
    waker.clock = &section.now;
    CameraService service(waker, [&](std::string_view line) { section.log(line); });
    CameraWriter writer(section);
    GreyDecoder decoder;
    ScriptedMaker maker;
    const std::function<bool()> found = [] { return true; };
    auto turn = [&](std::vector<std::function<void()>> steps) {
        waker.steps = std::move(steps), waker.waits = 0;
        service.run_turn(maker, writer, decoder);
        EXPECT_EQ(waker.waits, waker.steps.size());
    };
    auto at = [&](std::size_t offset) { return section.at<std::uint64_t>(offset); };

    EXPECT_EQ(service.on_device_camera(true),
              (CameraState{false, "VorLix Camera is still starting on the PC. Try again in a moment."}));
    service.hand_picture(picture_of(1));  // dropped: the device's camera is off
    // No component: two quiet waits, then a declined set-up wakes the thread.
    turn({nullptr, nullptr, [&] {
              ASSERT_TRUE(service.begin_setup());
              EXPECT_FALSE(service.begin_setup());  // one set-up at a time
              service.run_setup([] { return Result<bool>(Error("not allowed (denied)")); });
          }});
    EXPECT_EQ(section.now, 2000u);
    EXPECT_TRUE(service.setup_offered(found));
    EXPECT_FALSE(service.setup_offered([] { return false; }));
    // Registered, but the system refuses; a later set-up makes it look again.
    maker.dll = "C:\\VorLix\\VorLixCamera-x64.dll";
    maker.answers = {{CameraStatusKind::NoAccess, ""}, {CameraStatusKind::Ready, ""}};
    turn({[&] {
        ASSERT_TRUE(service.begin_setup());
        service.run_setup([] { return Result<bool>(true); });
    }});
    EXPECT_FALSE(service.setup_offered(found));

    // Running: of two pictures handed at once only the second is delivered.
    turn({nullptr, [&] {
              EXPECT_EQ(service.on_device_camera(true), (CameraState{true, std::nullopt}));
              service.hand_picture(picture_of(10));
              service.hand_picture(picture_of(235));
          }});
    EXPECT_EQ(std::vector({at(picture_counter), at(sequence_0), at(sequence_1), at(last_tick)}),
              std::vector<std::uint64_t>({1, 0, 2, 2500}));
    EXPECT_EQ(section.at<std::uint32_t>(latest), 1u);
    EXPECT_EQ(section.at<std::uint32_t>(has_picture), 1u);
    EXPECT_EQ(section.at<std::uint32_t>(host_pid), 4242u);
    EXPECT_GT(section.bytes()[buffer_1], 200);  // the light picture, not the dark one
    turn({[&] { service.hand_picture(picture_of(20)); }});
    EXPECT_EQ(section.at<std::uint32_t>(latest), 0u);
    EXPECT_LT(section.bytes()[buffer_0], 40);
    turn({[&] { service.hand_picture(CameraPicture{{}, 640, 480, 0}); }});
    // The device's camera goes off: the placeholder, and no more pictures.
    turn({[&] { EXPECT_EQ(service.on_device_camera(false), (CameraState{false, std::nullopt})); }});
    EXPECT_EQ(section.at<std::uint32_t>(has_picture), 0u);
    turn({nullptr, [&] {
              service.hand_picture(picture_of(60));
              service.request_recheck();
          }});
    EXPECT_EQ(maker.creates, 2u);
    EXPECT_EQ(at(picture_counter), 2u);
    EXPECT_EQ(waker.timeouts, 4u);
    EXPECT_EQ(waker.wakes, 8u);
    EXPECT_EQ(section.lines, (std::vector<std::string>{
                                 "camera: asked for, but Starting",
                                 "camera: NotSetUp",
                                 "camera: set-up did not finish: not allowed (denied)",
                                 "camera: NoAccess",
                                 "camera: set up for this PC",
                                 "camera: \"VorLix Camera\" registered for this user (C:\\VorLix\\VorLixCamera-x64.dll)",
                                 "camera: Ready",
                                 "camera: the device's camera is on",
                                 "camera: an app is using VorLix Camera",
                                 "camera: first picture handed to the camera",
                                 "camera: a 640\u00D7480 picture (0 bytes) could not be decoded",
                                 "camera: the device's camera is off",
                                 "camera: 2 pictures handed to the camera; showing the placeholder",
                             }));
}

TEST(CameraChecks, BuildsMachinesAndTexts) {
    struct Build { const char* text; std::optional<std::uint32_t> number; };
    for (const Build& b : std::vector<Build>{{"22000", 22000}, {" 21999\r\n", 21999}, {"", {}}, {"abc", {}},
                                             {"22000x", {}}, {"99999999999", {}}})
        EXPECT_EQ(parse_build_number(b.text), b.number) << b.text;

    auto pe = [](std::uint32_t at, std::uint16_t machine, std::size_t size) {
        Bytes file(size);
        std::memcpy(file.data() + 60, &at, 4);
        if (std::uint64_t{at} + 6 <= size) std::memcpy(file.data() + at, "PE\0\0", 4), std::memcpy(file.data() + at + 4, &machine, 2);
        return file;
    };
    struct Pe { Bytes file; std::optional<std::uint16_t> machine; };
    for (const Pe& p : std::vector<Pe>{{pe(128, kMachineX64, 512), kMachineX64},
                                       {pe(64, kMachineArm64, 70), kMachineArm64},
                                       {pe(200, kMachineX86, 300), kMachineX86},
                                       {pe(66, kMachineX64, 70), {}},
                                       {pe(0xFFFFFFFF, kMachineX64, 70), {}},
                                       {Bytes(63), {}}})
        EXPECT_EQ(pe_machine_of_bytes(p.file), p.machine);
    Bytes not_pe = pe(64, kMachineX64, 128);
    not_pe[65] = 'X';
    EXPECT_EQ(pe_machine_of_bytes(not_pe), std::nullopt);

    // A component built for another processor is passed over.
    const auto folder = std::filesystem::path(::testing::TempDir()) / "camera_dll";
    std::filesystem::create_directories(folder);
    for (auto [name, machine] : {std::pair{"VorLixCamera.dll", kMachineArm64}, {"VorLixCamera-x64.dll", kMachineX64}}) {
        const Bytes file = pe(64, machine, 128);
        std::ofstream(folder / name, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), 128);
    }
    EXPECT_EQ(camera_dll_in(folder, kMachineX64), folder / "VorLixCamera-x64.dll");
    EXPECT_EQ(camera_dll_in(folder, kMachineArm64), folder / "VorLixCamera.dll");
    EXPECT_EQ(camera_dll_in(folder, kMachineX86), std::nullopt);

    EXPECT_EQ(camera_status_text({CameraStatusKind::Failed, "Start: denied"}), "Failed (\"Start: denied\")");
    EXPECT_EQ(camera_status_message(CameraStatusKind::NeedsWindows11), "This PC needs Windows 11 for VorLix Camera.");
    EXPECT_EQ(camera_status_message(CameraStatusKind::Ready), std::nullopt);
}

}  // namespace
}  // namespace vorlix
