// Vorlix.exe under Wine, driven natively over loopback as a device would:
// pairing with the code from the code file, the sign-in messages, ping, a
// second link that signs in with the stored identity, the start line and the
// protected identity, one host per data folder, a host beside it with another
// folder, quitting from the tray menu (the device is told goodbye), and a
// restart that keeps the identity.
//
// Runs when VORLIX_HOST_EXE names Vorlix.exe (scripts/host-e2e.sh sets it,
// with VORLIX_POST_QUIT_EXE and VORLIX_WINE); skipped otherwise.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <pwd.h>

#include <gtest/gtest.h>

#include <bit>
#include <cctype>
#include <chrono>
#include <iostream>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>


#include <nlohmann/json.hpp>

#include "app/app_version.h"
#include "host/identity.h"
#include "json/base64.h"
#include "support/device_peer.h"
#include "support/http_test_server.h"
#include "support/test_browser.h"
#include "support/test_relay.h"
#include "support/text_count.h"
#include "support/update_fixture.h"
#include "support/zip_writer.h"
#include "support/wait.h"

extern char** environ;

namespace vorlix {
namespace {

// The update check of every started host goes to the discard port on loopback.
constexpr char kNoUpdates[] = "http://127.0.0.1:9/update.json";
// The port of VORLIX_TEST_RELAY, the test build's one relay (CMakeLists.txt).
constexpr std::uint16_t kTestRelayPort = 29720;

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string env_or_empty(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The Windows form of a Linux path under Wine's Z: drive.
std::string windows_path(const fs::path& path) {
    std::string text = "Z:" + fs::absolute(path).string();
    for (char& c : text)
        if (c == '/') c = '\\';
    return text;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::uint16_t free_port() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}

// One Windows program run under Wine; its output goes to a file, or to
// `output_fd` when one is given.
class WineProcess {
public:
    WineProcess(const std::vector<std::string>& args, const fs::path& output, int output_fd = -1) {
        std::vector<std::string> all{env_or_empty("VORLIX_WINE")};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (output_fd >= 0) {
            posix_spawn_file_actions_adddup2(&actions, output_fd, 1);
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        }
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~WineProcess() { kill(); }
    WineProcess(const WineProcess&) = delete;
    WineProcess& operator=(const WineProcess&) = delete;

    bool started() const { return pid_ > 0; }

    // The exit code once the process ended within the limit.
    std::optional<int> wait_exit(std::chrono::milliseconds limit = 30s) {
        if (exit_code_ || pid_ <= 0) return exit_code_;
        wait_until(
            [&] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                    return true;
                }
                return false;
            },
            limit, 50ms);
        return exit_code_;
    }

    void kill() {
        if (pid_ > 0 && !exit_code_) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            exit_code_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    std::optional<int> exit_code_;
};

// The next control text from the host that contains `needle`.
std::optional<std::string> control_with(DevicePeer& device, const std::string& needle);

class HostEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        host_exe_ = env_or_empty("VORLIX_HOST_EXE");
        post_quit_exe_ = env_or_empty("VORLIX_POST_QUIT_EXE");
        if (host_exe_.empty() || post_quit_exe_.empty() || env_or_empty("VORLIX_WINE").empty()) {
            GTEST_SKIP() << "needs Vorlix.exe under Wine (run through scripts/host-e2e.sh)";
        }
        root_ = fs::temp_directory_path() / ("vorlix-e2e-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override {
        if (!HasFailure() && !root_.empty()) fs::remove_all(root_);
        if (HasFailure()) std::cerr << "host output and data kept in " << root_ << "\n";
    }

    std::unique_ptr<WineProcess> start_host(const std::string& folder, std::uint16_t port, bool open_pairing,
                                            int output_fd = -1) {
        const fs::path dir = root_ / folder;
        std::vector<std::string> args{host_exe_,         "--data-dir", windows_path(dir), "--code-file",
                                      windows_path(dir / "code.txt"), "--port", std::to_string(port),
                                      "--no-relay",      "--no-advertise", "--hidden",
                                      "--update-url",    kNoUpdates};
        if (open_pairing) args.push_back("--open-pairing");
        auto process = std::make_unique<WineProcess>(args, root_ / (folder + ".out"), output_fd);
        EXPECT_TRUE(process->started());
        return process;
    }

    // The pairing code the host mirrors into its code file.
    std::optional<std::string> wait_for_code(const std::string& folder) {
        std::optional<std::string> code;
        wait_until([&] {
            std::string text = read_file(root_ / folder / "code.txt");
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
            if (text.size() == 6 && text.find_first_not_of("0123456789") == std::string::npos) code = text;
            return code.has_value();
        }, 30s, 50ms);
        return code;
    }

    // A new device paired with the code the host in `folder` shows, after its hostInfo.
    std::unique_ptr<DevicePeer> pair_device(const std::string& folder, std::uint16_t port,
                                            const DeviceIdentity& identity) {
        const auto code = wait_for_code(folder);
        auto device = code ? connect(port, identity) : nullptr;
        if (!device || !device->pair(*code) || !control_with(*device, "\"hostInfo\"")) {
            ADD_FAILURE() << "no paired device\n" << read_file(root_ / (folder + ".out"))
                          << read_file(root_ / folder / "vorlix.log");
            return nullptr;
        }
        return device;
    }

    std::unique_ptr<DevicePeer> connect(std::uint16_t port, const DeviceIdentity& identity) {
        std::unique_ptr<SocketStream> stream;
        wait_until([&] {
            auto connected = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), port);
            if (connected) stream = std::move(*connected);
            return stream != nullptr;
        }, 30s, 50ms);
        if (!stream) return nullptr;
        return std::make_unique<DevicePeer>(std::move(stream), identity);
    }

    fs::path root_;
    std::string host_exe_;
    std::string post_quit_exe_;
};

std::optional<std::string> control_with(DevicePeer& device, const std::string& needle) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end) {
        auto frame = device.receive_frame_of(FrameType::Control, 10s);
        if (!frame) return std::nullopt;
        std::string text(frame->body.begin(), frame->body.end());
        if (text.find(needle) != std::string::npos) return text;
    }
    return std::nullopt;
}

bool ping_pong(DevicePeer& device, unsigned value) {
    const std::string ping = "{\"ping\":{\"_0\":" + std::to_string(value) + "}}";
    if (!device.send_control_text(ping)) return false;
    const auto pong = control_with(device, "\"pong\"");
    return pong && pong->find("\"_0\":" + std::to_string(value)) != std::string::npos;
}

std::vector<std::string> start_line_ids(const std::string& log) {
    static const std::regex line(R"(Vorlix host 1\.2 for Windows: .+ \(.+\), id ([0-9a-f]{64}))");
    std::vector<std::string> ids;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it)
        ids.push_back((*it)[1]);
    return ids;
}

TEST_F(HostEndToEnd, PairsServesQuitsAndKeepsItsIdentity) {
    const std::uint16_t port = free_port();
    const fs::path folder = root_ / "A";
    auto host = start_host("A", port, true);

    // Pairing with the code from the code file, then the sign-in messages.
    const auto code = wait_for_code("A");
    ASSERT_TRUE(code) << read_file(root_ / "A.out");
    // The camera's service starts with the host, before any device asks about it.
    EXPECT_TRUE(wait_until([&] { return read_file(folder / "vorlix.log").find(" camera: ") != std::string::npos; },
                           10s, 50ms))
        << read_file(folder / "vorlix.log");
    const DeviceIdentity phone = DeviceIdentity::make("E2E Phone", "Phone9,1");
    auto first = connect(port, phone);
    ASSERT_TRUE(first);
    const Status paired = first->pair(*code);
    ASSERT_TRUE(paired) << paired.error().text << "\n" << read_file(folder / "vorlix.log");
    EXPECT_TRUE(control_with(*first, "\"hostInfo\""));
    EXPECT_TRUE(ping_pong(*first, 7));

    // The start line names the identity the device was shown.
    ASSERT_TRUE(first->host_hello());
    const std::string fingerprint = sha256_hex(first->host_hello()->id_key);
    EXPECT_EQ(start_line_ids(read_file(folder / "vorlix.log")), std::vector<std::string>{fingerprint});

    // The identity is stored protected, not as the 32 plain seed bytes.
    const std::string key_file = read_file(folder / "identity.key");
    EXPECT_GT(key_file.size(), 32u);

    // A new link signs in with the stored identity, without pairing.
    auto second = connect(port, phone);
    ASSERT_TRUE(second);
    const Status signed_in = second->sign_in();
    ASSERT_TRUE(signed_in) << signed_in.error().text << "\n" << read_file(folder / "vorlix.log");
    EXPECT_TRUE(control_with(*second, "\"hostInfo\""));
    EXPECT_TRUE(ping_pong(*second, 8));

    // A second start for the same folder, in other letter case, ends at once
    // and leaves the first alone.
    {
        std::string other_case = windows_path(folder);
        for (char& c : other_case) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        WineProcess again({host_exe_, "--data-dir", other_case, "--port", std::to_string(free_port()), "--no-relay",
                           "--no-advertise", "--hidden", "--update-url", kNoUpdates},
                          root_ / "A-again.out");
        EXPECT_EQ(again.wait_exit(30s), 0);
    }
    // It wrote no start line of its own into the folder's log.
    EXPECT_EQ(start_line_ids(read_file(folder / "vorlix.log")), std::vector<std::string>{fingerprint});
    EXPECT_TRUE(ping_pong(*second, 9));

    // Another folder runs beside it and pairs its own device.
    const std::uint16_t port_b = free_port();
    auto beside = start_host("B", port_b, true);
    const auto code_b = wait_for_code("B");
    ASSERT_TRUE(code_b) << read_file(root_ / "B.out");
    auto tablet = connect(port_b, DeviceIdentity::make("E2E Tablet", "Tablet1,1"));
    ASSERT_TRUE(tablet);
    EXPECT_TRUE(tablet->pair(*code_b));
    EXPECT_TRUE(ping_pong(*tablet, 10));
    EXPECT_TRUE(ping_pong(*second, 11));

    // Quitting as the tray menu does: each device is told goodbye.
    {
        WineProcess quit({post_quit_exe_, "2"}, root_ / "quit.out");
        EXPECT_EQ(quit.wait_exit(30s), 0);
    }
    EXPECT_TRUE(control_with(*second, "\"bye\""));
    EXPECT_TRUE(control_with(*tablet, "\"bye\""));
    EXPECT_EQ(host->wait_exit(30s), 0);
    EXPECT_EQ(beside->wait_exit(30s), 0);
    const std::string log = read_file(folder / "vorlix.log");
    EXPECT_NE(log.find(" quitting\n"), std::string::npos) << log;

    // A restart with the same folder keeps the identity: the device signs in.
    const std::uint16_t port_again = free_port();
    host = start_host("A", port_again, false);
    auto after = connect(port_again, phone);
    ASSERT_TRUE(after);
    const Status signed_in_again = after->sign_in();
    ASSERT_TRUE(signed_in_again) << signed_in_again.error().text << "\n" << read_file(folder / "vorlix.log");
    EXPECT_TRUE(ping_pong(*after, 12));
    EXPECT_EQ(start_line_ids(read_file(folder / "vorlix.log")), (std::vector<std::string>{fingerprint, fingerprint}));
    EXPECT_EQ(read_file(folder / "identity.key"), key_file);
    {
        WineProcess quit({post_quit_exe_}, root_ / "quit2.out");
        EXPECT_EQ(quit.wait_exit(30s), 0);
    }
    EXPECT_TRUE(control_with(*after, "\"bye\""));
    EXPECT_EQ(host->wait_exit(30s), 0);
}

// Started by a launcher that never reads the pipe its output goes to: once
// the pipe is full, the lines that do not fit stay out of it and the host
// goes on serving.
TEST_F(HostEndToEnd, ServesOnWhileNobodyReadsItsStandardError) {
    int unread[2];
    ASSERT_EQ(::pipe2(unread, O_CLOEXEC), 0);
    // A pipe of one page: a device's first lines alone are more than it holds.
    ASSERT_GT(::fcntl(unread[1], F_SETPIPE_SZ, 4096), 0);
    const std::uint16_t port = free_port();
    auto host = start_host("A", port, true, unread[1]);
    ::close(unread[1]);
    const DeviceIdentity phone = DeviceIdentity::make("E2E Phone", "Phone9,1");
    auto device = pair_device("A", port, phone);
    ASSERT_TRUE(device);
    // Each message the host does not know is one line of about 350 bytes, and
    // a device's first 16 such lines are written whole, with its links'
    // connection and sign-in lines: several times what the pipe holds.
    const std::string name(300, 'x');
    for (int link = 0; link < 15; ++link) {
        auto sender = connect(port, phone);
        ASSERT_TRUE(sender && sender->sign_in(PeerRole::Send));
        for (int i = 0; i < 16; ++i) ASSERT_TRUE(sender->send_control_text("{\"" + name + "\":{}}"));
        ASSERT_TRUE(ping_pong(*sender, 1));
    }
    EXPECT_TRUE(ping_pong(*device, 1));
    EXPECT_TRUE(wait_until(
        [&] { return testing::occurrences(read_file(root_ / "A" / "vorlix.log"), " is not handled on Windows\n") >= 16; },
        10s, 50ms));
    EXPECT_TRUE(ping_pong(*device, 2));
    ::close(unread[0]);
}

// Width and height of a PNG (from IHDR) or a baseline JPEG (from SOF0).
std::pair<std::uint32_t, std::uint32_t> picture_size(const Bytes& file) {
    if (file.size() > 24 && file[0] == 0x89 && file[1] == 'P') return {get_u32_be(&file[16]), get_u32_be(&file[20])};
    for (std::size_t i = 2; i + 9 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xC0) return {get_u16_be(&file[i + 7]), get_u16_be(&file[i + 5])};
    return {0, 0};
}

TEST_F(HostEndToEnd, AnswersAScreenshotRequestAndAPreviewLink) {
    const std::uint16_t port = free_port();
    auto host = start_host("S", port, true);
    const DeviceIdentity phone = DeviceIdentity::make("Shot Phone", "Phone9,1");
    auto device = pair_device("S", port, phone);
    ASSERT_TRUE(device);

    // The screenshot arrives as a PNG file of the screen's size (Xvfb's 1280x800).
    ASSERT_TRUE(device->send_control_text(R"({"requestScreenshot":{}})"));
    const auto start = control_with(*device, "\"fileStart\"");
    ASSERT_TRUE(start) << read_file(root_ / "S" / "vorlix.log");
    const auto header = nlohmann::json::parse(*start)["fileStart"];
    EXPECT_TRUE(std::regex_match(header["name"].get<std::string>(), std::regex(R"(PC \d{4}-\d\d-\d\dT\d{6}\.png)")));
    EXPECT_EQ(header["purpose"], "screenshot");
    Bytes png;
    for (int piece = 0; piece < 10'000; ++piece) {
        const auto next = control_with(*device, "\"file");
        ASSERT_TRUE(next);
        const auto message = nlohmann::json::parse(*next);
        if (message.contains("fileEnd")) {
            EXPECT_TRUE(message["fileEnd"]["ok"].get<bool>());
            break;
        }
        const auto data = base64_decode(message["fileChunk"]["data"].get<std::string>());
        ASSERT_TRUE(data);
        png.insert(png.end(), data->begin(), data->end());
    }
    EXPECT_EQ(png.size(), header["size"].get<std::size_t>());
    EXPECT_EQ(picture_size(png), (std::pair<std::uint32_t, std::uint32_t>{1280, 800}));

    // A preview link gets one small JPEG and is sent away.
    auto viewer = connect(port, phone);
    ASSERT_TRUE(viewer);
    ASSERT_TRUE(viewer->sign_in(PeerRole::Preview));
    const auto preview = control_with(*viewer, "\"preview\"");
    ASSERT_TRUE(preview);
    const auto jpeg = base64_decode(nlohmann::json::parse(*preview)["preview"]["_0"].get<std::string>());
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(picture_size(*jpeg), (std::pair<std::uint32_t, std::uint32_t>{640, 400}));

    WineProcess quit({post_quit_exe_}, root_ / "quit-s.out");
    EXPECT_EQ(quit.wait_exit(30s), 0);
    EXPECT_EQ(host->wait_exit(30s), 0);
}

// The overlay as the probe sees it: "shown" or "hidden" with a green stroke
// through the middle of the screen.
std::optional<int> probe_overlay(const std::string& probe, const char* state, const fs::path& output) {
    WineProcess run({probe, state, "0.5", "0.5", "00c832"}, output);
    return run.wait_exit(30s);
}

std::string annotate(const std::string& phase, const std::string& points) {
    return R"({"annotate":{"_0":{"phase":")" + phase + R"(","kind":"pen","points":[)" + points +
           R"(],"id":5,"color":51250,"width":0.02}}})";
}

TEST_F(HostEndToEnd, ShowsADevicesInkOverTheScreen) {
    const std::string probe = env_or_empty("VORLIX_INK_PROBE_EXE");
    if (probe.empty()) GTEST_SKIP() << "needs vorlix_ink_probe.exe";
    const std::uint16_t port = free_port();
    auto host = start_host("ink", port, true);
    auto device = pair_device("ink", port, DeviceIdentity::make("Ink Phone", "Phone9,1"));
    ASSERT_TRUE(device);
    const fs::path seen = root_ / "probe.out";
    EXPECT_EQ(probe_overlay(probe, "hidden", seen), 0) << read_file(seen);  // no overlay before the first stroke

    // A stroke begun, grown and ended across the middle of the screen.
    EXPECT_TRUE(device->send_control_text(annotate("begin", "0.3,0.5")));
    EXPECT_TRUE(device->send_control_text(annotate("move", "0.45,0.5,0.55,0.5")));
    EXPECT_TRUE(device->send_control_text(annotate("end", "0.7,0.5")));
    EXPECT_EQ(probe_overlay(probe, "shown", seen), 0) << read_file(seen);
    // The device clears its drawing: the overlay hides and the screen is clean.
    EXPECT_TRUE(device->send_control_text(annotate("clear", "")));
    EXPECT_EQ(probe_overlay(probe, "hidden", seen), 0) << read_file(seen);

    {
        WineProcess quit({post_quit_exe_}, root_ / "quit.out");
        EXPECT_EQ(quit.wait_exit(30s), 0);
    }
    EXPECT_EQ(host->wait_exit(30s), 0);
    const std::string log = read_file(root_ / "ink" / "vorlix.log");
    EXPECT_NE(log.find("ink: overlay on the 1280x800 monitor"), std::string::npos) << log;
}

// The host window's state as the probe prints it (key=value lines; rows in order).
struct WindowProbe {
    std::map<std::string, std::string> values;
    std::vector<std::string> rows;
    std::string text;
};

WindowProbe probe_window(const std::string& probe, const fs::path& out, const std::string& command = "") {
    fs::remove(out);
    std::vector<std::string> args{probe};
    if (!command.empty()) args.push_back(command);
    WineProcess run(args, out);
    run.wait_exit(30s);
    WindowProbe seen;
    seen.text = read_file(out);
    std::istringstream lines(seen.text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        if (line.starts_with("row=")) seen.rows.push_back(line.substr(4));
        else seen.values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return seen;
}

bool run_value_present(const fs::path& out) {
    WineProcess query({"reg", "query", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "/v", "VorLix"}, out);
    return query.wait_exit(30s) == 0;
}

const std::string kLrm = "\xE2\x80\x8E";
const std::string kRlm = "\xE2\x80\x8F";

TEST_F(HostEndToEnd, WindowShowsTheHostInItsLanguage) {
    const std::string probe = env_or_empty("VORLIX_WINDOW_PROBE_EXE");
    if (probe.empty()) GTEST_SKIP() << "needs vorlix_window_probe.exe";
    const std::uint16_t port = free_port();
    const fs::path seen = root_ / "window.out";
    auto settled = [&](auto holds, const std::string& command = "") {
        WindowProbe last;
        wait_until([&] { return holds(last = probe_window(probe, seen, command)); }, 30s, 200ms);
        return last;
    };

    // English: the code from the code file, the footer, then a paired device.
    struct LanguageVariable {
        ~LanguageVariable() { unsetenv("VORLIX_LANG"); }
    } restore;
    setenv("VORLIX_LANG", "en", 1);
    auto host = start_host("win", port, true);
    const auto code = wait_for_code("win");
    ASSERT_TRUE(code) << read_file(root_ / "win.out");
    const std::string shown_code = kLrm + code->substr(0, 3) + " " + code->substr(3) + kLrm;
    WindowProbe window = settled([&](WindowProbe& w) { return w.values["c102"] == shown_code; });
    EXPECT_EQ(window.values["c102"], shown_code) << window.text;
    EXPECT_EQ(window.values["c100"], "Vorlix");
    const std::vector<std::string> ids = start_line_ids(read_file(root_ / "win" / "vorlix.log"));
    ASSERT_EQ(ids.size(), 1u);
    const std::string id = ids[0].substr(0, 12);
    const std::string footer = " \xC2\xB7 port " + std::to_string(port) + " \xC2\xB7 id " + id + "\\n";
    EXPECT_NE(window.values["c109"].find(footer), std::string::npos) << window.values["c109"];
    EXPECT_EQ(window.rows, std::vector<std::string>{"No devices paired yet."});

    const DeviceIdentity phone = DeviceIdentity::make("Window Phone", "Phone9,1");
    auto device = connect(port, phone);
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->pair(*code));
    EXPECT_TRUE(control_with(*device, "\"hostInfo\""));
    window = settled([](WindowProbe& w) { return w.values["c101"] == "Connected to Window Phone"; });
    EXPECT_EQ(window.values["c101"], "Connected to Window Phone") << window.text;
    EXPECT_EQ(window.rows, std::vector<std::string>{"Window Phone  \xE2\x97\x8F   (Phone9,1)"});
    device.reset();
    {
        WineProcess quit({post_quit_exe_}, root_ / "quit-w.out");
        EXPECT_EQ(quit.wait_exit(30s), 0);
    }
    EXPECT_EQ(host->wait_exit(30s), 0);
    // The log lines also reach the standard error the program was started with.
    EXPECT_NE(read_file(root_ / "win.out").find("), id " + ids[0] + "\n"), std::string::npos);

    // German, then Arabic laid out right to left, with the same folder.
    for (const std::string language : {"de", "ar"}) {
        setenv("VORLIX_LANG", language.c_str(), 1);
        host = start_host("win", port, true);
        // The probe reads the controls one after another while the window may be
        // filling them: the status, which is filled first, and the footer, last.
        window = settled([](WindowProbe& w) { return !w.values["c101"].empty() && !w.values["c109"].empty(); });
        if (language == "de") {
            EXPECT_EQ(window.values["c105"], "Gekoppelte Ger\xC3\xA4te") << window.text;
            EXPECT_EQ(window.values["c104"], "Koppeln beenden");
            for (const std::string& part : {" \xC2\xB7 Port " + std::to_string(port) + " \xC2\xB7 ID " + id + "\\n",
                                           "Vorlix f\xC3\xBCr Windows " + std::string(kAppVersion)}) {
                EXPECT_NE(window.values["c109"].find(part), std::string::npos) << window.values["c109"];
            }
            EXPECT_EQ(window.rows, std::vector<std::string>{"Window Phone   (Phone9,1)"});
            device = connect(port, phone);
            ASSERT_TRUE(device);
            ASSERT_TRUE(device->sign_in());
            window = settled([](WindowProbe& w) { return w.values["c101"] == "Verbunden mit Window Phone"; });
            EXPECT_EQ(window.values["c101"], "Verbunden mit Window Phone") << window.text;
            EXPECT_EQ(window.rows, std::vector<std::string>{"Window Phone  \xE2\x97\x8F   (Phone9,1)"});
            device.reset();
        } else {
            EXPECT_NE(std::stoul(window.values["exstyle"], nullptr, 16) & 0x00400000ul, 0u) << window.text;
            for (const char* id : {"c101", "c103", "c104", "c105", "c109"}) {
                EXPECT_TRUE(window.values[id].starts_with(kRlm)) << id << ": " << window.text;
            }
            EXPECT_TRUE(window.values["c102"].starts_with(kLrm));
            EXPECT_EQ(window.rows, std::vector<std::string>{kRlm + "Window Phone   (Phone9,1)"});
        }
        WineProcess quit({post_quit_exe_}, root_ / ("quit-" + language + ".out"));
        EXPECT_EQ(quit.wait_exit(30s), 0);
        EXPECT_EQ(host->wait_exit(30s), 0);
    }
}

TEST_F(HostEndToEnd, ForgettingTheSignedInDeviceInTheWindowEndsItsSession) {
    const std::string probe = env_or_empty("VORLIX_WINDOW_PROBE_EXE");
    if (probe.empty()) GTEST_SKIP() << "needs vorlix_window_probe.exe";
    const std::uint16_t port = free_port();
    auto host = start_host("forget", port, true);
    auto device = pair_device("forget", port, DeviceIdentity::make("Gone Phone", "Phone9,1"));
    ASSERT_TRUE(device);
    const fs::path seen = root_ / "forget-window.out";
    ASSERT_TRUE(wait_until([&] { return probe_window(probe, seen).rows.size() == 1; }, 30s, 200ms));

    probe_window(probe, seen, "forget");
    EXPECT_TRUE(control_with(*device, "\"bye\""));
    EXPECT_TRUE(device->wait_closed());
    EXPECT_TRUE(wait_until([&] { return probe_window(probe, seen).rows == std::vector<std::string>{"No devices paired yet."}; },
                           30s, 200ms))
        << read_file(seen);
    WineProcess quit({post_quit_exe_}, root_ / "quit-forget.out");
    EXPECT_EQ(quit.wait_exit(30s), 0);
    EXPECT_EQ(host->wait_exit(30s), 0);
}

// The default data folder: a new install turns open at sign-in on, the tray
// menu turns it off and on, and a second start raises the first and ends.
TEST_F(HostEndToEnd, DefaultFolderOpensAtSignInAndStaysOne) {
    const std::string probe = env_or_empty("VORLIX_WINDOW_PROBE_EXE");
    const std::string prefix = env_or_empty("WINEPREFIX");
    if (probe.empty() || prefix.empty()) GTEST_SKIP() << "needs vorlix_window_probe.exe and WINEPREFIX";
    const passwd* user = getpwuid(getuid());
    ASSERT_TRUE(user);
    const fs::path folder = fs::path(prefix) / "drive_c" / "users" / user->pw_name / "AppData" / "Roaming" / "Vorlix";
    fs::remove_all(folder);
    const fs::path seen = root_ / "default.out";
    const fs::path code_file = root_ / "default-code.txt";
    const std::vector<std::string> args{host_exe_, "--code-file", windows_path(code_file), "--port",
                                        std::to_string(free_port()), "--no-relay", "--no-advertise", "--hidden"};
    WineProcess first(args, root_ / "default-first.out");
    WindowProbe window = probe_window(probe, seen);
    EXPECT_EQ(window.values["visible"], "0") << window.text;
    EXPECT_TRUE(wait_until([&] { return run_value_present(root_ / "reg.out"); }, 30s, 200ms));

    probe_window(probe, seen, "7");
    EXPECT_FALSE(run_value_present(root_ / "reg.out"));
    probe_window(probe, seen, "7");
    EXPECT_TRUE(run_value_present(root_ / "reg.out"));
    probe_window(probe, seen, "7");
    EXPECT_FALSE(run_value_present(root_ / "reg.out"));

    WineProcess second(args, root_ / "default-second.out");
    EXPECT_EQ(second.wait_exit(30s), 0);
    EXPECT_EQ(probe_window(probe, seen).values["visible"], "1");

    WineProcess quit({post_quit_exe_}, root_ / "quit-default.out");
    EXPECT_EQ(quit.wait_exit(30s), 0);
    EXPECT_EQ(first.wait_exit(30s), 0);
    const std::string log = read_file(folder / "vorlix.log");
    EXPECT_NE(log.find("open at sign-in: a new install in "), std::string::npos) << log;
    EXPECT_NE(log.find("open at sign-in: off"), std::string::npos);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace vorlix

namespace vorlix {
namespace {

Bytes input_body(std::uint8_t kind, std::initializer_list<std::uint32_t> words, std::size_t word_bytes = 4) {
    Bytes body{kind};
    for (const std::uint32_t w : words)
        for (std::size_t i = word_bytes; i-- > 0;) body.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    return body;
}

TEST_F(HostEndToEnd, InputMovesThePointerAndTheSessionsEndLetsGoOfKeys) {
    const std::uint16_t port = free_port();
    auto host = start_host("I", port, true);
    auto device = pair_device("I", port, DeviceIdentity::make("E2E Input", "Phone9,1"));
    ASSERT_TRUE(device);

    // A relative move is applied and reported back with its count.
    ASSERT_TRUE(device->send_frame(FrameType::Input, input_body(2, {std::bit_cast<std::uint32_t>(10.0f), 0})));
    const auto pointer = control_with(*device, "\"pointer\"");
    ASSERT_TRUE(pointer) << read_file(root_ / "I" / "vorlix.log");
    EXPECT_NE(pointer->find("\"applied\":1"), std::string::npos) << *pointer;

    // The A key pressed and left held: the session's end lets go of it.
    Bytes key_down = input_body(5, {0x0000}, 2);
    key_down.insert(key_down.end(), {1, 0, 0, 0, 0});
    ASSERT_TRUE(device->send_frame(FrameType::Input, key_down));
    EXPECT_TRUE(ping_pong(*device, 1));
    device->close();
    EXPECT_TRUE(wait_until(
        [&] { return read_file(root_ / "I" / "vorlix.log").find("input: letting go of 1 key(s) still held") !=
                     std::string::npos; },
        30s, 50ms))
        << read_file(root_ / "I" / "vorlix.log");

    WineProcess quit({post_quit_exe_}, root_ / "quit-input.out");
    EXPECT_EQ(quit.wait_exit(30s), 0);
    EXPECT_EQ(host->wait_exit(30s), 0);
}

// The update-test build, copied into a folder of its own, finds 1.3.4 on the
// loopback server and installs it from the tray menu; the archive's program
// (the same build with its FileVersion made 1.3.4, as the offer must match,
// and bytes after its image, so the two copies differ) then
// runs from the same path, removes the set-aside copy and pairs a device on
// the same port: the old copy's listener was not handed down to it.
TEST_F(HostEndToEnd, InstallsAnUpdateFromTheTrayMenuAndTheNewCopyPairs) {
    const std::string test_exe = env_or_empty("VORLIX_UPDATE_TEST_EXE");
    if (test_exe.empty()) GTEST_SKIP() << "needs the update-test build of Vorlix.exe";
    const fs::path app = root_ / "app";
    const fs::path data = root_ / "data";
    fs::create_directories(app);
    fs::copy_file(test_exe, app / "Vorlix.exe");
    const std::string built = read_file(test_exe);
    Bytes newer = testing::with_file_version(Bytes(built.begin(), built.end()), "1.3.4");
    ASSERT_FALSE(newer.empty()) << "the test build carries no FileVersion";
    append(newer, std::string_view("the newer copy"));
    const Bytes archive = testing::write_zip({{"Vorlix.exe", newer, true}});
    testing::HttpTestServer server({{"/Vorlix-1.3.4.zip", {200, archive}}});
    const std::string manifest =
        testing::manifest_text("1.3.4", testing::signed_download(archive, server.link("/Vorlix-1.3.4.zip")));
    server.answer("/update.json", {200, Bytes(manifest.begin(), manifest.end())});

    const std::uint16_t port = free_port();
    WineProcess old({windows_path(app / "Vorlix.exe"), "--data-dir", windows_path(data), "--code-file",
                     windows_path(data / "code.txt"), "--port", std::to_string(port), "--no-relay",
                     "--no-advertise", "--hidden", "--open-pairing", "--update-url", server.link("/update.json")},
                    root_ / "old.out");
    const auto log_has = [&](const std::string& needle, std::chrono::seconds limit) {
        return wait_until([&] { return read_file(data / "vorlix.log").find(needle) != std::string::npos; }, limit,
                          100ms);
    };
    ASSERT_TRUE(log_has("update: VorLix 1.3.4 is available", 60s)) << read_file(data / "vorlix.log");
    const auto old_code = wait_for_code("data");
    {
        WineProcess install({post_quit_exe_, "1", "5"}, root_ / "install.out");
        EXPECT_EQ(install.wait_exit(30s), 0);
    }
    EXPECT_EQ(old.wait_exit(60s), 0) << read_file(data / "vorlix.log");
    ASSERT_TRUE(log_has("update: removed", 60s)) << read_file(data / "vorlix.log");
    EXPECT_TRUE(read_file(app / "Vorlix.exe") == std::string(newer.begin(), newer.end()));
    EXPECT_FALSE(fs::exists(app / "Vorlix.exe.old"));
    const std::string log = read_file(data / "vorlix.log");
    for (const char* line : {"checked (size, SHA-256, signature)", "update: installed 1.3.4; starting it and quitting"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }

    // The new copy shows a code of its own and a device pairs on the port.
    std::optional<std::string> code;
    wait_until([&] {
        code = wait_for_code("data");
        return code && code != old_code;
    }, 30s, 100ms);
    ASSERT_TRUE(code && code != old_code) << read_file(data / "vorlix.log");
    auto device = connect(port, DeviceIdentity::make("E2E Phone", "Phone9,1"));
    ASSERT_TRUE(device);
    const Status paired = device->pair(*code);
    ASSERT_TRUE(paired) << paired.error().text << "\n" << read_file(data / "vorlix.log");
    EXPECT_TRUE(ping_pong(*device, 21));
    {
        WineProcess quit({post_quit_exe_}, root_ / "quit-update.out");
        EXPECT_EQ(quit.wait_exit(30s), 0);
    }
    EXPECT_TRUE(control_with(*device, "\"bye\""));
    EXPECT_TRUE(wait_until([&] { return !SocketStream::connect(IpAddress::v4(127, 0, 0, 1), port); }, 30s, 100ms));
}

// The test build (the update tests' build, whose one relay is the tests'
// relay on loopback) registers there once a device has paired; the device then
// reaches it only through the relay, asks for a watch link, and a test browser
// opens the link through the relay and is sent away when the device stops it.
TEST_F(HostEndToEnd, ADeviceAndABrowserReachTheTestBuildThroughTheRelay) {
    const std::string test_exe = env_or_empty("VORLIX_UPDATE_TEST_EXE");
    if (test_exe.empty()) GTEST_SKIP() << "needs the test build of Vorlix.exe";
    // Another run of these tests may hold the relay's port for a while.
    std::unique_ptr<test::TestRelay> relay;
    wait_until([&] { return (relay = std::make_unique<test::TestRelay>(kTestRelayPort))->listening(); }, 120s, 500ms);
    ASSERT_TRUE(relay->listening()) << "port " << kTestRelayPort << " stayed taken";
    const fs::path data = root_ / "R";
    const std::uint16_t port = free_port();
    WineProcess host({test_exe, "--data-dir", windows_path(data), "--code-file", windows_path(data / "code.txt"),
                      "--port", std::to_string(port), "--hidden", "--open-pairing", "--update-url", kNoUpdates},
                     root_ / "R.out");
    const DeviceIdentity phone = DeviceIdentity::make("Relay Phone", "Phone9,1");
    {
        auto direct = pair_device("R", port, phone);
        ASSERT_TRUE(direct);
        const Bytes id_key = direct->host_hello()->id_key;
        ASSERT_TRUE(wait_until([&] {
            const auto key = relay->host_key();
            return key && Bytes(key->begin(), key->end()) == id_key;
        }, 60s, 100ms)) << read_file(data / "vorlix.log");
    }

    std::optional<Socket> link = relay->open_link(30s);
    ASSERT_TRUE(link) << read_file(data / "vorlix.log");
    DevicePeer device(std::make_unique<SocketStream>(std::move(*link)), phone);
    ASSERT_TRUE(device.sign_in()) << read_file(data / "vorlix.log");
    EXPECT_TRUE(ping_pong(device, 30));
    ASSERT_TRUE(device.send_control_text(R"({"requestWatchLink":{}})"));
    const auto watch = control_with(device, "\"watchLink\"");
    ASSERT_TRUE(watch);
    const auto address = test::read_watch_address(nlohmann::json::parse(*watch)["watchLink"]["url"].get<std::string>());
    ASSERT_TRUE(address) << *watch;
    ASSERT_TRUE(wait_until([&] { return relay->host_key() == address->web_key; }, 60s, 100ms));
    std::optional<Socket> browser_link = relay->open_link(30s);
    ASSERT_TRUE(browser_link);
    test::TestBrowser browser(std::move(*browser_link));
    ASSERT_EQ(browser.open(address->secret), std::nullopt) << read_file(data / "vorlix.log");
    EXPECT_TRUE(browser.receive_control("\"hostInfo\"", 30s));
    ASSERT_TRUE(device.send_control_text(R"({"stopWebWatchers":{}})"));
    EXPECT_TRUE(browser.receive_control("\"bye\"", 30s));

    {
        WineProcess quit({post_quit_exe_}, root_ / "quit-relay.out");
        EXPECT_EQ(quit.wait_exit(30s), 0);
    }
    EXPECT_TRUE(control_with(device, "\"bye\""));
    EXPECT_EQ(host.wait_exit(30s), 0);
    const std::string log = read_file(data / "vorlix.log");
    for (const char* line : {"relay: registered at 127.0.0.1:29720 for sessions",
                             "relay: registered at 127.0.0.1:29720 for watch links"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
}

}  // namespace
}  // namespace vorlix
