// A scripted encoder transform: every answer comes from a queue the test
// fills, and every call is recorded in order.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "h264/encoder_transform.h"

namespace vorlix::testing {

// Events handed to the events thread one by one; next_event blocks until
// the test pushes one or closes the source.
class ScriptedEvents : public TransformEventSource {
public:
    std::function<void()> on_leave;  // called as the thread leaves

    bool enter_thread() override {
        std::lock_guard lock(mutex_);
        ++entered_;
        return true;
    }
    void leave_thread(bool entered) override {
        if (on_leave) on_leave();
        std::lock_guard lock(mutex_);
        if (entered) ++left_;
        changed_.notify_all();
    }
    TransformEventRead next_event() override {
        std::unique_lock lock(mutex_);
        waiting_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return closed_ || !queue_.empty(); });
        waiting_ = false;
        if (queue_.empty()) return {};
        TransformEventRead read = queue_.front();
        queue_.pop_front();
        ++taken_;
        changed_.notify_all();
        return read;
    }

    void push(std::uint32_t type) { push_read({TransformEventRead::Kind::event, type}); }
    void push_read(TransformEventRead read) {
        std::lock_guard lock(mutex_);
        queue_.push_back(read);
        changed_.notify_all();
    }
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    // Waits (bounded) until the thread handled every queued event and waits
    // for the next one.
    bool wait_idle() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return queue_.empty() && waiting_; });
    }
    bool wait_left() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return left_ > 0; });
    }
    int entered() {
        std::lock_guard lock(mutex_);
        return entered_;
    }
    int left() {
        std::lock_guard lock(mutex_);
        return left_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TransformEventRead> queue_;
    bool closed_ = false;
    bool waiting_ = false;
    int entered_ = 0;
    int left_ = 0;
    int taken_ = 0;
};

struct ScriptedOutput {
    ResultCode code = result_codes::ok;
    std::optional<EncodedOutput> output;
};

class ScriptedTransform : public EncoderTransform {
public:
    // --- script
    std::optional<std::uint32_t> async_value;
    ResultCode unlock_code = result_codes::ok;
    std::deque<ResultCode> output_type_codes;  // answers of set_output_type, then ok
    ResultCode input_type_code = result_codes::ok;
    bool codec_settings = true;
    std::map<CodecProperty, ResultCode> codec_codes;  // refusals by property
    std::map<CodecProperty, ResultCode> late_codec_codes;  // refusals once an output type was set
    std::map<TransformMessage, ResultCode> message_codes;
    std::deque<ResultCode> prepare_codes;
    std::deque<ResultCode> input_codes;         // answers of process_input, then ok
    std::deque<ScriptedOutput> outputs;         // answers of process_output, then need_more_input
    OutputStreamInfo stream_info;
    ResultCode stream_info_code = result_codes::ok;
    ResultCode first_type_code = result_codes::ok;
    std::optional<Bytes> header;
    std::shared_ptr<ScriptedEvents> events = std::make_shared<ScriptedEvents>();
    ResultCode event_source_code = result_codes::ok;

    // --- record
    std::vector<std::string> calls;
    std::vector<std::uint32_t> profiles;
    std::vector<std::pair<CodecProperty, std::uint32_t>> codec_values;
    std::optional<std::size_t> codec_values_before_output_type;  // how many were set before it
    std::vector<TransformMessage> messages;
    std::vector<std::uint32_t> buffer_sizes;
    struct Prepared {
        Bytes picture;
        std::int64_t time;
        std::int64_t duration;
    };
    std::vector<Prepared> prepared;
    std::atomic<int> inputs_fed{0};
    std::atomic<bool> shut_down{false};

    std::string describe(ResultCode code) override { return code == 0xC00D36B5 ? "not accepting" : "scripted"; }

    std::optional<std::uint32_t> async_attribute() override { return record("async_attribute"), async_value; }
    ResultCode unlock_async() override { return record("unlock_async"), unlock_code; }
    ResultCode set_low_latency_attribute() override { return record("low_latency"), result_codes::ok; }
    ResultCode set_output_type(const OutputTypeSpec& type) override {
        record("output_type");
        if (!codec_values_before_output_type) codec_values_before_output_type = codec_values.size();
        profiles.push_back(type.profile);
        last_output_type = type;
        return next(output_type_codes, result_codes::ok);
    }
    ResultCode set_input_type(const InputTypeSpec& type) override {
        record("input_type");
        last_input_type = type;
        return input_type_code;
    }
    bool has_codec_settings() override { return codec_settings; }
    ResultCode set_codec_value(CodecProperty property, std::uint32_t value) override {
        std::lock_guard lock(mutex_);
        codec_values.emplace_back(property, value);
        if (codec_values_before_output_type) {
            auto late = late_codec_codes.find(property);
            if (late != late_codec_codes.end()) return late->second;
        }
        auto it = codec_codes.find(property);
        return it == codec_codes.end() ? result_codes::ok : it->second;
    }
    ResultCode process_message(TransformMessage message) override {
        std::lock_guard lock(mutex_);
        messages.push_back(message);
        auto it = message_codes.find(message);
        return it == message_codes.end() ? result_codes::ok : it->second;
    }
    Result<std::shared_ptr<TransformEventSource>> event_source() override {
        record("event_source");
        if (!code_succeeded(event_source_code)) return Error("no events");
        return std::shared_ptr<TransformEventSource>(events);
    }
    ResultCode prepare_input(ByteView picture, std::int64_t time, std::int64_t duration) override {
        record("prepare_input");
        prepared.push_back({Bytes(picture.begin(), picture.end()), time, duration});
        return next(prepare_codes, result_codes::ok);
    }
    ResultCode process_input() override {
        record("process_input");
        ResultCode code = next(input_codes, result_codes::ok);
        if (code_succeeded(code)) ++inputs_fed;
        return code;
    }
    ResultCode output_stream_info(OutputStreamInfo& info) override {
        record("stream_info");
        info = stream_info;
        return stream_info_code;
    }
    ResultCode process_output(std::uint32_t buffer_size, std::optional<EncodedOutput>& output) override {
        record("process_output");
        std::lock_guard lock(mutex_);
        buffer_sizes.push_back(buffer_size);
        if (outputs.empty()) return result_codes::need_more_input;
        const ResultCode code = outputs.front().code;
        if (outputs.front().output) output.emplace(std::move(*outputs.front().output));
        outputs.pop_front();
        return code;
    }
    ResultCode use_first_available_output_type() override {
        record("first_output_type");
        return first_type_code;
    }
    std::optional<Bytes> sequence_header() override { return header; }
    void shutdown() override {
        record("shutdown");
        shut_down = true;
    }

    void add_output(std::uint8_t first, std::int64_t time) {
        std::lock_guard lock(mutex_);
        outputs.push_back({result_codes::ok, EncodedOutput{Bytes{0, 0, 0, 1, first}, time}});
    }
    void add_answer(ResultCode code) {
        std::lock_guard lock(mutex_);
        outputs.push_back({code, std::nullopt});
    }
    int count(const std::string& call) {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (auto& c : calls) n += c == call;
        return n;
    }
    std::vector<std::string> call_list() {
        std::lock_guard lock(mutex_);
        return calls;
    }

    OutputTypeSpec last_output_type;
    InputTypeSpec last_input_type;

private:
    void record(const char* call) {
        std::lock_guard lock(mutex_);
        calls.emplace_back(call);
    }
    ResultCode next(std::deque<ResultCode>& queue, ResultCode otherwise) {
        std::lock_guard lock(mutex_);
        if (queue.empty()) return otherwise;
        ResultCode code = queue.front();
        queue.pop_front();
        return code;
    }
    std::recursive_mutex mutex_;
};

}  // namespace vorlix::testing
