#include "support/test_relay.h"

#include "json/base64.h"
#include "json/json.h"
#include "relay/relay_lines.h"

namespace vorlix::test {

namespace {

Status send_text(Socket& socket, const std::string& text) {
    return socket.send_all(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace

TestRelay::TestRelay(std::uint16_t port) {
    Result<Listener> bound = Listener::bind(IpAddress::v4(127, 0, 0, 1), port);
    if (!bound) return;
    listener_ = std::move(*bound);
    Result<std::uint16_t> bound_port = listener_.local_port();
    port_ = bound_port ? *bound_port : 0;
    accept_thread_ = std::thread([this] { accept_loop(); });
}

TestRelay::~TestRelay() {
    stopping_ = true;
    if (port_ != 0) (void)Socket::connect(IpAddress::v4(127, 0, 0, 1), port_, std::chrono::seconds(1));
    if (accept_thread_.joinable()) accept_thread_.join();
    listener_.close();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Socket& s : open_) s.shutdown_both();
        threads.swap(threads_);
    }
    for (std::thread& t : threads) t.join();
}

std::string TestRelay::address() const { return "127.0.0.1:" + std::to_string(port_); }

void TestRelay::set_join_answer(std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    join_answer_ = std::move(line);
}

std::optional<Key32> TestRelay::host_key() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return host_key_;
}

void TestRelay::accept_loop() {
    while (!stopping_) {
        Result<Socket> accepted = listener_.accept();
        if (stopping_ || !accepted) return;
        ++connections_;
        std::lock_guard<std::mutex> lock(mutex_);
        if (Result<Socket> copy = accepted->duplicate()) open_.push_back(std::move(*copy));
        threads_.emplace_back([this, s = std::move(*accepted)]() mutable { serve(std::move(s)); });
    }
}

std::optional<std::string> TestRelay::read_line(Socket& socket) {
    std::string line;
    while (!stopping_) {
        std::uint8_t byte = 0;
        ReceiveOutcome got = socket.receive(&byte, 1, std::chrono::milliseconds(100));
        if (got.kind == ReceiveOutcome::Kind::TimedOut) continue;
        if (got.kind != ReceiveOutcome::Kind::Data) return std::nullopt;
        if (byte == '\n') return line;
        if (line.size() > kMaxRelayLine) return std::nullopt;
        line.push_back(static_cast<char>(byte));
    }
    return std::nullopt;
}

void TestRelay::serve(Socket socket) {
    std::optional<std::string> first = read_line(socket);
    if (!first) return;
    Result<Json> parsed = parse_json(*first, DuplicateKeys::refuse);
    if (!parsed || !parsed->is_object()) return;
    const Json& line = *parsed;
    if (line.value("role", "") == "host") {
        serve_host(socket, *first);
    } else if (line.value("role", "") == "accept" && line.contains("token") && line["token"].is_string()) {
        std::string answer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            answer = join_answer_;
        }
        if (!send_text(socket, answer)) return;
        if (!answer.empty() && answer != "{\"ok\":true}\n") {
            ++refused_joins_;
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        joined_.emplace(line["token"].get<std::string>(), std::move(socket));
        changed_.notify_all();
    }
}

void TestRelay::serve_host(Socket& socket, const std::string& first_line) {
    Json sign_in = *parse_json(first_line, DuplicateKeys::refuse);
    std::optional<Bytes> key = sign_in.contains("key") ? json_base64(sign_in["key"]) : std::nullopt;
    if (!key || key->size() != 32) return;
    Key32 public_key;
    std::copy(key->begin(), key->end(), public_key.begin());
    web_ = sign_in.value("web", false);
    if (silent_) {
        while (read_line(socket)) {
        }
        return;
    }
    int round = 0;
    std::string nonce = "n" + std::to_string(round);
    if (!send_text(socket, write_json_line(Json{{"nonce", nonce}}))) return;
    while (std::optional<std::string> text = read_line(socket)) {
        Result<Json> line = parse_json(*text, DuplicateKeys::refuse);
        if (!line || !line->is_object()) continue;
        if (line->contains("ping")) {
            ++pings_;
            continue;
        }
        if (!line->contains("sig")) continue;
        std::optional<Bytes> sig = json_base64((*line)["sig"]);
        Signature64 signature{};
        bool good = sig && sig->size() == 64;
        if (good) {
            std::copy(sig->begin(), sig->end(), signature.begin());
            good = ed25519_verify(public_key, relay_signed_message(nonce), signature);
        }
        if (!good) {
            ++bad_signatures_;
            return;
        }
        ++good_signatures_;
        if (round++ == 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            host_key_ = public_key;
            if (Result<Socket> copy = socket.duplicate()) host_ = std::move(*copy);
            changed_.notify_all();
        }
        nonce = "n" + std::to_string(round);
        if (!send_text(socket, "{\"ok\":true}\n")) return;
    }
}

bool TestRelay::send_to_host(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    return host_ && send_text(*host_, bytes).ok();
}

void TestRelay::drop_host() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (host_) host_->shutdown_both();
    host_.reset();
}

bool TestRelay::announce(const std::string& token) {
    return send_to_host(write_json_line(Json{{"incoming", token}}));
}

std::optional<Socket> TestRelay::take_joined(const std::string& token, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, limit, [&] { return joined_.count(token) != 0; })) return std::nullopt;
    auto node = joined_.extract(token);
    return std::move(node.mapped());
}

std::optional<Socket> TestRelay::open_link(std::chrono::milliseconds limit) {
    const std::string token = "link-" + std::to_string(next_token_++);
    if (!announce(token)) return std::nullopt;
    return take_joined(token, limit);
}

}  // namespace vorlix::test
