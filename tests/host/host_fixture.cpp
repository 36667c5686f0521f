#include "host_fixture.h"

#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "host/log.h"
#include "host/session.h"
#include "json/json.h"
#include "support/test_host.h"

namespace vorlix {

using namespace std::chrono_literals;

std::string control_name(const std::string& json) {
    auto parsed = parse_json(json, DuplicateKeys::keep_last);
    if (!parsed || !parsed->is_object() || parsed->size() != 1) return {};
    return parsed->begin().key();
}


void HostFixture::SetUp() {
    std::random_device random;
    dir_ = std::filesystem::temp_directory_path() / ("vorlix-host-test-" + std::to_string(random()));
    std::filesystem::create_directories(dir_);
    open_log_file(dir_ / "vorlix.log");
    session_threads_before_ = running_session_threads();
    writer_threads_before_ = running_writer_threads();
    platform_ = std::make_shared<FakePlatform>();
    now_ = HostState::Clock::now();
}

void HostFixture::make_host(std::vector<TrustedDevice> trusted_devices) {
    HostStateConfig config = test_host_config(platform_, dir_, 0x42, std::move(trusted_devices), "Test PC");
    config.host_model = "Test Model";
    config.now = [this] { return now_; };
    if (reach_) config.reach = reach_;
    host_ = HostState::create(std::move(config));
    host_->timeouts.handshake_failure_pause = 1ms;
    host_->timeouts.writer_wait = 2s;
    // Every line of every link is written, as tests that read them expect;
    // the flood tests count them.
    host_->limits.link_log_every = 0ms;
    host_->session_log.every = 0ms;
    host_->set_code_file(dir_ / "code.txt");
}

void HostFixture::start_listening() {
    auto started = start_listener(host_, 0, false);
    ASSERT_TRUE(started) << started.error().text;
    listener_ = *started;
    port_ = host_->snapshot_host_status().port;
    ASSERT_NE(port_, 0);
}

void HostFixture::TearDown() {
    if (listener_) listener_->stop();
    if (host_) host_->say_goodbye_and_close();
    EXPECT_TRUE(wait_for_threads_to_end()) << "a link thread outlived its link";
    host_.reset();
    open_log_file(std::filesystem::path());
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::unique_ptr<DevicePeer> HostFixture::connect(const DeviceIdentity& identity,
                                                 const std::optional<IpAddress>& from) {
    auto stream = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), port_, from);
    EXPECT_TRUE(stream);
    if (!stream) return nullptr;
    return std::make_unique<DevicePeer>(std::move(*stream), identity);
}

std::unique_ptr<DevicePeer> HostFixture::signed_in_device(const DeviceIdentity& identity) {
    auto peer = connect(identity);
    if (!peer) return nullptr;
    Status signed_in = peer->sign_in();
    EXPECT_TRUE(signed_in) << (signed_in ? "" : signed_in.error().text);
    control_texts_until_pong(*peer, 1);
    return peer;
}

bool HostFixture::sent_away(DevicePeer& peer) {
    auto bye = peer.receive_frame_of(FrameType::Control);
    return bye && to_string(bye->body) == R"({"bye":{}})" && peer.wait_closed();
}

std::string HostFixture::read_code_file() const {
    std::ifstream in(dir_ / "code.txt", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool HostFixture::code_file_exists() const { return std::filesystem::exists(dir_ / "code.txt"); }

std::string HostFixture::log_text() const {
    std::ifstream in(dir_ / "vorlix.log", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool HostFixture::wait_for_log(const std::string& text, std::chrono::milliseconds limit) const {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (log_text().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "no log line with: " << text << "\nlog:\n" << log_text();
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

bool HostFixture::wait_for_threads_to_end(std::chrono::milliseconds limit) const {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (running_session_threads() != session_threads_before_ || running_writer_threads() != writer_threads_before_) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::vector<std::string> HostFixture::control_texts_until_pong(DevicePeer& peer, std::uint64_t ping) {
    std::vector<std::string> texts;
    Status sent = peer.send_control_text("{\"ping\":{\"_0\":" + std::to_string(ping) + "}}");
    EXPECT_TRUE(sent);
    const std::string pong = "{\"pong\":{\"_0\":" + std::to_string(ping) + "}}";
    for (int i = 0; i < 64; ++i) {
        auto frame = peer.receive_frame_of(FrameType::Control);
        if (!frame) {
            ADD_FAILURE() << "no pong: " << frame.error().text;
            break;
        }
        std::string text = to_string(frame->body);
        if (text == pong) break;
        texts.push_back(std::move(text));
    }
    return texts;
}

}  // namespace vorlix
