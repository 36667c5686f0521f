// Vorlix.exe under Wine, run as a user would: the start line with the
// identity, the identity stored protected, one host per data folder, a host
// beside it with another folder, quitting from the tray menu, and a restart
// that keeps the identity.
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

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <iostream>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>


extern char** environ;

namespace vorlix {
namespace {

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

template <typename Predicate>
bool wait_until(Predicate done, std::chrono::milliseconds limit = 30s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return done();
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

// One Windows program run under Wine; its output goes to a file.
class WineProcess {
public:
    WineProcess(const std::vector<std::string>& args, const fs::path& output) {
        std::vector<std::string> all{env_or_empty("VORLIX_WINE")};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
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
            limit);
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

class HostEndToEnd : public testing::Test {
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

    std::unique_ptr<WineProcess> start_host(const std::string& folder, std::uint16_t port, bool open_pairing) {
        const fs::path dir = root_ / folder;
        std::vector<std::string> args{host_exe_,         "--data-dir", windows_path(dir), "--code-file",
                                      windows_path(dir / "code.txt"), "--port", std::to_string(port),
                                      "--no-relay",      "--no-advertise", "--hidden"};
        if (open_pairing) args.push_back("--open-pairing");
        auto process = std::make_unique<WineProcess>(args, root_ / (folder + ".out"));
        EXPECT_TRUE(process->started());
        return process;
    }

    fs::path root_;
    std::string host_exe_;
    std::string post_quit_exe_;
};

std::vector<std::string> start_line_ids(const std::string& log) {
    static const std::regex line(R"(Vorlix host 1\.2 for Windows: .+ \(.+\), id ([0-9a-f]{64}))");
    std::vector<std::string> ids;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it)
        ids.push_back((*it)[1]);
    return ids;
}

TEST_F(HostEndToEnd, OneHostPerFolderQuitsFromTheMenuAndKeepsItsIdentity) {
    const fs::path folder = root_ / "A";
    auto host = start_host("A", free_port(), true);
    std::string fingerprint;
    ASSERT_TRUE(wait_until([&] {
        const auto ids = start_line_ids(read_file(folder / "vorlix.log"));
        if (ids.size() == 1) fingerprint = ids[0];
        return !fingerprint.empty();
    })) << read_file(root_ / "A.out");

    // The identity is stored protected, not as the 32 plain seed bytes.
    const std::string key_file = read_file(folder / "identity.key");
    EXPECT_GT(key_file.size(), 32u);

    // A second start for the same folder, in other letter case, ends at once
    // and leaves the first alone.
    const auto log_size = fs::file_size(folder / "vorlix.log");
    {
        std::string other_case = windows_path(folder);
        for (char& c : other_case) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        WineProcess again({host_exe_, "--data-dir", other_case, "--port", std::to_string(free_port()), "--no-relay",
                           "--no-advertise", "--hidden"},
                          root_ / "A-again.out");
        EXPECT_EQ(again.wait_exit(30s), 0);
    }
    EXPECT_EQ(fs::file_size(folder / "vorlix.log"), log_size);
    EXPECT_FALSE(host->wait_exit(0ms));

    // Another folder runs beside it.
    auto beside = start_host("B", free_port(), true);
    EXPECT_TRUE(wait_until([&] { return start_line_ids(read_file(root_ / "B" / "vorlix.log")).size() == 1; }))
        << read_file(root_ / "B.out");
    EXPECT_FALSE(beside->wait_exit(0ms));
    EXPECT_FALSE(host->wait_exit(0ms));

    // Quitting as the tray menu does ends both, each after its closing line.
    {
        WineProcess quit({post_quit_exe_, "2"}, root_ / "quit.out");
        EXPECT_EQ(quit.wait_exit(30s), 0);
    }
    EXPECT_EQ(host->wait_exit(30s), 0);
    EXPECT_EQ(beside->wait_exit(30s), 0);
    EXPECT_NE(read_file(folder / "vorlix.log").find(" quitting\n"), std::string::npos);
    EXPECT_NE(read_file(root_ / "B" / "vorlix.log").find(" quitting\n"), std::string::npos);

    // A restart with the same folder keeps the identity.
    host = start_host("A", free_port(), false);
    EXPECT_TRUE(wait_until([&] { return start_line_ids(read_file(folder / "vorlix.log")).size() == 2; }))
        << read_file(root_ / "A.out");
    EXPECT_EQ(start_line_ids(read_file(folder / "vorlix.log")), (std::vector<std::string>{fingerprint, fingerprint}));
    EXPECT_EQ(read_file(folder / "identity.key"), key_file);
    {
        WineProcess quit({post_quit_exe_}, root_ / "quit2.out");
        EXPECT_EQ(quit.wait_exit(30s), 0);
    }
    EXPECT_EQ(host->wait_exit(30s), 0);
}

}  // namespace
}  // namespace vorlix
