// An asynchronous hardware encoder through the adapter, with a real Media
// Foundation event queue feeding the events thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <mfapi.h>

#include <chrono>

#include "h264/encoder_h264.h"
#include "win/encoder_fake_transform.h"
#include "win/stream/mf_encoder.h"
#include "win/stream/mf_ids.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;
using testing::FakeMfTransform;

class FakeCandidate final : public EncoderCandidate {
public:
    explicit FakeCandidate(FakeMfTransform& fake) : fake_(fake) {}
    std::optional<std::string> friendly_name() override { return std::string("Fake Hardware MFT"); }
    Result<std::shared_ptr<EncoderTransform>> activate() override {
        fake_.AddRef();
        return std::shared_ptr<EncoderTransform>(
            std::make_shared<MfTransform>(ComRef<IMFTransform>(static_cast<IMFTransform*>(&fake_))));
    }
    void shutdown_object() override {}

private:
    FakeMfTransform& fake_;
};

class FakeSystem final : public EncoderSystem {
public:
    explicit FakeSystem(FakeMfTransform& fake) : fake_(fake) {}
    Status startup() override { return {}; }
    std::vector<std::unique_ptr<EncoderCandidate>> hardware_encoders() override {
        std::vector<std::unique_ptr<EncoderCandidate>> list;
        list.push_back(std::make_unique<FakeCandidate>(fake_));
        return list;
    }
    Result<std::shared_ptr<EncoderTransform>> software_encoder() override { return Error("not in this test"); }

private:
    FakeMfTransform& fake_;
};

TEST(MediaFoundationAsync, EventsThreadTurnsQueueEventsIntoRequestsAndOutputs) {
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    ASSERT_TRUE(SUCCEEDED(MFStartup(mf_ids::kMfVersion, mf_ids::kStartupFull)));
    {
        FakeMfTransform fake;
        fake.make_asynchronous();
        FakeSystem system(fake);
        const EncoderWaits waits{2000ms, 2000ms, 1000ms};
        auto opened = open_h264_encoder(system, EncoderSettings{64, 32, 30, 2'000'000, true}, waits);
        ASSERT_TRUE(opened.ok()) << opened.error().text;
        auto& encoder = **opened;
        EXPECT_TRUE(encoder.hardware());
        EXPECT_TRUE(encoder.asynchronous());
        EXPECT_EQ(encoder.name(), "Fake Hardware MFT");
        UINT32 unlocked = 0, low_latency = 0;
        fake.attributes()->GetUINT32(MF_TRANSFORM_ASYNC_UNLOCK, &unlocked);
        fake.attributes()->GetUINT32(MF_LOW_LATENCY, &low_latency);
        EXPECT_EQ(unlocked, 1u);
        EXPECT_EQ(low_latency, 1u);

        // One request lets one picture in; its output comes back through the
        // events thread.
        ASSERT_TRUE(SUCCEEDED(fake.queue_event(METransformNeedInput)));
        fake.output_answers.push_back({S_OK, Bytes{0, 0, 0, 1, 0x65, 0x88}, 123});
        const Bytes picture(64 * 32 * 3 / 2, 0x40);
        auto outputs = encoder.encode_frame(picture, 5'000, true);
        ASSERT_TRUE(outputs.ok()) << outputs.error().text;
        ASSERT_EQ(outputs->size(), 1u);
        EXPECT_EQ((*outputs)[0], (EncodedOutput{Bytes{0, 0, 0, 1, 0x65, 0x88}, 123}));
        ASSERT_EQ(fake.fed.size(), 1u);
        EXPECT_EQ(fake.fed[0].bytes, picture);
        EXPECT_FALSE(encoder.output_failed());

        // Shut-down: the queue ends with the transform, so the thread ends
        // and is joined well within the bound.
        const auto start = std::chrono::steady_clock::now();
        opened->reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
        EXPECT_TRUE(fake.shut_down);
        const std::vector<MFT_MESSAGE_TYPE> tail(fake.messages.end() - 3, fake.messages.end());
        EXPECT_EQ(tail, (std::vector<MFT_MESSAGE_TYPE>{MFT_MESSAGE_NOTIFY_END_OF_STREAM, MFT_MESSAGE_COMMAND_DRAIN,
                                                       MFT_MESSAGE_NOTIFY_END_STREAMING}));
        EXPECT_EQ(fake.references(), 1u);
    }
    MFShutdown();
    if (com) CoUninitialize();
}

}  // namespace
}  // namespace vorlix
