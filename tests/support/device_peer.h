// The device's side of a link, for tests: it runs the device half of pairing
// (with a code) and of sign-in (with a stored identity key), derives the two
// session keys, and then seals and opens frames like a real device.
//
//   DeviceHandshake  the message level only: builds the device's Hello,
//                    commit, reveal and signature bodies and checks the
//                    host's answers. Drive a HandshakeState with it directly.
//   DevicePeer       the same over a byte stream (a loopback socket or an
//                    in-memory pipe): plain frames before sign-in, sealed
//                    frames after it.
//
// Typical use, against a host whose reader loop runs on the other end:
//
//   auto [device_end, host_end] = MemoryPipe::make_pair();
//   DevicePeer device(std::move(device_end), DeviceIdentity::make("Phone"));
//   ASSERT_TRUE(device.pair("123456"));
//   device.send_control_text(R"({"ping":{"_0":7}})");
//   auto reply = device.receive_frame();   // opened inner frame
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "crypto/crypto.h"
#include "handshake/handshake.h"
#include "handshake/messages.h"
#include "net/socket.h"
#include "util/bytes.h"
#include "util/result.h"
#include "wire/frame.h"
#include "wire/sealed.h"

namespace vorlix {

// A device's long-term identity and the names it announces.
struct DeviceIdentity {
    Ed25519KeyPair keys;
    std::string name = "Test Phone";
    std::string model = "Phone1,1";

    // A fresh random identity.
    static DeviceIdentity make(std::string name = "Test Phone", std::string model = "Phone1,1");
    // A fixed identity from a seed (reproducible keys).
    static DeviceIdentity from_seed(const Key32& seed, std::string name = "Test Phone",
                                    std::string model = "Phone1,1");
    // The public key as the trusted-devices list stores it (Base64).
    std::string key_text() const;
};

// The device half of the handshake, at the message level.
class DeviceHandshake {
public:
    // `ephemeral_secret` and `nonce` default to fresh random bytes.
    explicit DeviceHandshake(DeviceIdentity identity, std::optional<Key32> ephemeral_secret = std::nullopt);
    ~DeviceHandshake();

    // The body of the device's Hello; it is remembered for the transcript.
    Bytes hello(HelloMode mode, std::optional<PeerRole> role = std::nullopt);
    Bytes hello_with(const Hello& record);
    // The Hello record the device would send, for tests that change fields.
    Hello hello_record(HelloMode mode, std::optional<PeerRole> role = std::nullopt) const;

    // Reads the host's Hello and derives the keys from it.
    Status receive_host_hello(ByteView body);

    // Pairing: the commit (remembers the code and nonce), then the reveal.
    Bytes commit(std::string_view code, std::optional<Key32> nonce = std::nullopt);
    // Checks the host's commit message and keeps its commitment.
    Status receive_host_commit(ByteView body);
    Bytes reveal() const;
    // Checks the host's reveal against its commitment and the code.
    Status receive_host_reveal(ByteView body);

    // Sign-in: the device's signature, then the check of the host's.
    Bytes signature() const;
    Status receive_host_signature(ByteView body);

    const std::optional<Hello>& host_hello() const { return host_hello_; }
    const Digest32& transcript() const { return transcript_; }
    const HandshakeKeys& keys() const { return keys_; }
    const DeviceIdentity& identity() const { return identity_; }

private:
    DeviceIdentity identity_;
    Key32 ephemeral_secret_{};
    Bytes own_hello_;
    std::optional<Hello> host_hello_;
    Digest32 transcript_{};
    HandshakeKeys keys_;
    std::string code_;
    Key32 nonce_{};
    Bytes host_commitment_;
};

// A byte stream between the two ends of a test link.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    virtual Status send(ByteView bytes) = 0;
    // Up to `max` bytes; an empty list when the other end closed; an error on
    // a time-out.
    virtual Result<Bytes> receive(std::size_t max, std::chrono::milliseconds timeout) = 0;
    // Closes the sending side; the other end then reads the end of the stream.
    virtual void close() = 0;
};

// Two connected in-memory ends. Thread-safe.
class MemoryPipe : public ByteStream {
public:
    static std::pair<std::unique_ptr<MemoryPipe>, std::unique_ptr<MemoryPipe>> make_pair();

    Status send(ByteView bytes) override;
    Result<Bytes> receive(std::size_t max, std::chrono::milliseconds timeout) override;
    void close() override;
    ~MemoryPipe() override;

private:
    struct Channel {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<std::uint8_t> bytes;
        bool closed = false;
    };
    MemoryPipe(std::shared_ptr<Channel> in, std::shared_ptr<Channel> out)
        : in_(std::move(in)), out_(std::move(out)) {}

    std::shared_ptr<Channel> in_;
    std::shared_ptr<Channel> out_;
};

// A connected TCP socket.
class SocketStream : public ByteStream {
public:
    explicit SocketStream(Socket socket) : socket_(std::move(socket)) {}
    // Connects to a loopback listener, from `from` when given.
    static Result<std::unique_ptr<SocketStream>> connect(const IpAddress& address, std::uint16_t port,
                                                         const std::optional<IpAddress>& from = std::nullopt);

    Status send(ByteView bytes) override;
    Result<Bytes> receive(std::size_t max, std::chrono::milliseconds timeout) override;
    void close() override;

private:
    Socket socket_;
};

// One frame as the device received it: the plain type, or the inner type of
// an opened sealed frame.
struct ReceivedFrame {
    FrameType type;
    Bytes body;
};

class DevicePeer {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{5000};

    DevicePeer(std::unique_ptr<ByteStream> stream, DeviceIdentity identity);

    // Runs the whole pairing exchange with the code. Fails with the text of
    // what went wrong; a failure message from the host is kept in failure().
    Status pair(std::string_view code, std::optional<PeerRole> role = std::nullopt);
    // Signs in with the stored identity.
    Status sign_in(std::optional<PeerRole> role = std::nullopt);
    // The same in two halves: the Hello with the host's answer, then the
    // signature with the host's.
    Status send_sign_in_hello(std::optional<PeerRole> role = std::nullopt);
    Status finish_sign_in();

    // The host's Hello, and the reason of a failure message it sent.
    const std::optional<Hello>& host_hello() const { return handshake_.host_hello(); }
    std::optional<PairingError> failure() const { return failure_; }
    bool signed_in() const { return send_key_ != nullptr; }
    const DeviceHandshake& handshake() const { return handshake_; }

    // Before sign-in: plain frames.
    Status send_plain(FrameType type, ByteView body);
    Result<ReceivedFrame> receive_plain(std::chrono::milliseconds timeout = kDefaultTimeout);

    // After sign-in: sealed frames.
    Status send_frame(FrameType inner_type, ByteView body);
    Status send_control_text(std::string_view json);
    // The next sealed frame, opened. An error on a time-out, a closed stream,
    // or a frame that does not open.
    Result<ReceivedFrame> receive_frame(std::chrono::milliseconds timeout = kDefaultTimeout);
    // Skips frames until one of `inner_type` arrives.
    Result<ReceivedFrame> receive_frame_of(FrameType inner_type,
                                           std::chrono::milliseconds timeout = kDefaultTimeout);

    // True when the host closed the link (within the time-out).
    bool wait_closed(std::chrono::milliseconds timeout = kDefaultTimeout);

    void close() { stream_->close(); }
    ByteStream& stream() { return *stream_; }

    // What a link that never signs in sends before it falls silent: nothing,
    // the Hello of a key the host does not know, or a copy of a trusted
    // device's Hello (which travels in the clear).
    enum class Stranger { Silent, UnknownHello, CopiedHello };
    // Sends that and waits for the host's Hello in answer.
    Status act_as_stranger(Stranger kind, const DeviceIdentity& trusted);

private:
    Result<Bytes> next_raw_frame(std::chrono::milliseconds timeout);
    Status expect_handshake_reply(Bytes& body);
    void install_keys();

    std::unique_ptr<ByteStream> stream_;
    DeviceHandshake handshake_;
    Bytes pending_;
    std::optional<PairingError> failure_;
    std::unique_ptr<SealingKey> send_key_;
    std::unique_ptr<SealingKey> receive_key_;
};

}  // namespace vorlix
