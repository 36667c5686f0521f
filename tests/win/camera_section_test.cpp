#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "convert/nv12.h"
#include "host/session.h"
#include "../storage/temp_folder.h"
#include "support/test_host.h"
#include "win/platform.h"
#include "win/camera/camera.h"
#include "win/pictures/picture_coding.h"
#include "win/stream/com_ref.h"

namespace vorlix {
namespace {

// Plays the camera component: makes "Global\VorLixCamera" with its header.
struct ComponentSection {
    HANDLE handle;
    std::uint8_t* view;
    explicit ComponentSection(std::uint32_t version) {
        handle = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                    static_cast<DWORD>(kCameraSectionBytes), L"Global\\VorLixCamera");
        view = static_cast<std::uint8_t*>(MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, kCameraSectionBytes));
        const std::uint32_t header[] = {kCameraMagic, version, kCameraWidth, kCameraHeight};
        if (view) std::memcpy(view, header, sizeof header);
    }
    ~ComponentSection() {
        UnmapViewOfFile(view);
        CloseHandle(handle);
    }
    template <typename T>
    T at(std::size_t offset) const {
        T value;
        std::memcpy(&value, view + offset, sizeof value);
        return value;
    }
};

struct NotedSection : WindowsCameraSection {
    std::vector<std::string> lines;
    void log(std::string_view line) override { lines.emplace_back(line); }
};

TEST(CameraSection, JpegFromTheDeviceReachesTheComponentLetterBoxed) {
    ComApartment com;
    // 640x480 of one colour: 960x720 in the middle, black bars of 160 pixels.
    const std::uint8_t colour[4] = {40, 160, 220, 255};
    Bytes bgra;
    for (int i = 0; i < 640 * 480; ++i) bgra.insert(bgra.end(), colour, colour + 4);
    const auto jpeg = encode_jpeg_24(640, 480, bgra, 0.95f);
    ASSERT_TRUE(jpeg);
    Bytes expected(8 * 8 * 3 / 2);
    Bytes block;
    for (int i = 0; i < 64; ++i) block.insert(block.end(), colour, colour + 4);
    ASSERT_TRUE(convert_to_nv12(block, 8, 8, false, 8, 8, expected));

    ComponentSection component(kCameraVersion);
    ASSERT_NE(component.view, nullptr);
    NotedSection port;
    CameraWriter writer(port);
    WicCameraDecoder decoder;
    const auto frame = decoder.decode(*jpeg);
    ASSERT_TRUE(frame);
    writer.write_frame(*frame);

    using namespace camera_section;
    EXPECT_EQ(component.at<std::uint32_t>(host_pid), GetCurrentProcessId());
    EXPECT_EQ(component.at<std::uint64_t>(picture_counter), 1u);
    EXPECT_EQ(component.at<std::uint32_t>(has_picture), 1u);
    EXPECT_EQ(component.at<std::uint32_t>(latest), 1u);
    const std::uint8_t* y = component.view + buffer_1;
    for (std::uint32_t x : {0u, 150u, 1130u, 1279u}) EXPECT_EQ(y[360 * kCameraWidth + x], 16) << x;
    for (std::uint32_t x : {170u, 640u, 1110u}) EXPECT_NEAR(y[360 * kCameraWidth + x], expected[0], 3) << x;
    EXPECT_EQ(port.lines, (std::vector<std::string>{"camera: an app is using VorLix Camera",
                                                     "camera: first picture handed to the camera"}));

    // A picture whose header declares 60000x60000 pixels is refused before
    // any pixel is converted, and counted as a failure.
    Bytes dib = dibv5_from_picture(Picture{1, 1, Bytes{1, 2, 3, 4}});
    put_u32_be(dib.data() + 4, 0x60EA0000);  // 60,000 wide and high, little-endian
    put_u32_be(dib.data() + 8, 0x60EA0000);
    const Bytes huge = *bmp_from_dib(dib);
    EXPECT_EQ(decoder.try_decode(huge).error().text, "a picture of 60000x60000 pixels is refused");
    EXPECT_EQ(decoder.decode(huge), std::nullopt);
    EXPECT_EQ(decoder.failures(), 1u);
}

TEST(CameraSection, AnotherVersionIsRefusedWithItsLine) {
    ComponentSection component(2);
    ASSERT_NE(component.view, nullptr);
    NotedSection port;
    CameraWriter writer(port);
    writer.write_frame(Bytes(kCameraBgraBytes, 60));
    EXPECT_EQ(component.at<std::uint64_t>(camera_section::picture_counter), 0u);
    EXPECT_EQ(component.at<std::uint32_t>(camera_section::host_pid), 0u);
    EXPECT_EQ(port.lines, std::vector<std::string>{
                              "camera: the installed VorLix Camera speaks another version: set it up again"});
}

TEST(CameraSection, StartChecksRefuseThisSystem) {
    // The build number is read (Wine reports a Windows 10 build), so the
    // refusal below is the comparison's, not a failed read's.
    using GetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto get_version = reinterpret_cast<GetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW version{sizeof version};
    ASSERT_TRUE(get_version && get_version(&version) == 0);
    EXPECT_EQ(windows_build_number(), std::optional<std::uint32_t>(version.dwBuildNumber));
    EXPECT_LT(version.dwBuildNumber, kCameraMinimumBuild);

    CameraService& service = camera_service();
    for (int i = 0; i < 250 && service.status().kind == CameraStatusKind::Starting; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(service.status().kind, CameraStatusKind::NeedsWindows11);
    EXPECT_FALSE(service.ready());
    EXPECT_EQ(service.on_device_camera(true), (CameraState{false, "This PC needs Windows 11 for VorLix Camera."}));
    EXPECT_FALSE(camera_menu_available());
    test::TempFolder folder;
    auto host = HostState::create(test_host_config(platform_new(DataFolder{folder.path(), 1}), folder.path(), 3));
    const auto features = host_features(*host);
    EXPECT_EQ(std::count(features.begin(), features.end(), "camera"), 0);
    EXPECT_NE(std::count(features.begin(), features.end(), "files"), 0);
}

std::filesystem::path test_program() {
    wchar_t own[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    return std::filesystem::path(std::wstring(own, length));
}

TEST(CameraSection, RegisteredComponentPathIsExpanded) {
    // regsvr32 may store the path as an expandable text; this test program
    // stands in for the component (a PE file for this processor).
    const std::filesystem::path program = test_program();
    ASSERT_TRUE(SetEnvironmentVariableW(L"VORLIX_CAMERA_TEST", program.parent_path().c_str()));
    const std::wstring key = L"Software\\Classes\\CLSID\\{95D2B9BD-BC3A-4E08-B236-BD1D8B3E4236}";
    const std::wstring stored = L"%VORLIX_CAMERA_TEST%\\" + program.filename().wstring();
    HKEY server = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (key + L"\\InprocServer32").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &server, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(server, nullptr, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(stored.c_str()),
                   static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(server);
    EXPECT_EQ(registered_camera_dll(), std::optional(program));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    EXPECT_EQ(registered_camera_dll(), std::nullopt);
}

TEST(CameraSection, TheCameraApiComesFromTheSystemFolderOnly) {
    // A "mfsensorgroup.dll" on the search path but outside the system folder
    // (Wine has none of its own) would answer "access denied".
    ASSERT_TRUE(SetDllDirectoryW((test_program().parent_path() / "planted").c_str()));
    const std::unique_ptr<VirtualCameraMaker> maker = make_windows_camera_maker();
    const CameraStatus status = maker->create();
    SetDllDirectoryW(nullptr);
    EXPECT_EQ(status.kind, CameraStatusKind::Failed) << status.error;
    EXPECT_TRUE(status.error.starts_with("MFCreateVirtualCamera: ")) << status.error;
}

}  // namespace
}  // namespace vorlix
