// A scripted Media Foundation transform as a COM object, for driving the
// adapter with the system's own samples, buffers and media types.
#pragma once

#include <windows.h>

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <strmif.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "util/bytes.h"
#include "win/stream/mf_encoder.h"

namespace vorlix::testing {

// With `asynchronous`, it reports itself asynchronous and hands out a real
// Media Foundation event queue as its event generator: ProcessInput then
// queues "have output" for each output answer, and Shutdown ends the queue.
class FakeMfTransform final : public IMFTransform,
                              public ICodecAPI,
                              public IMFShutdown,
                              public IMFMediaEventGenerator {
public:
    struct Answer {
        HRESULT hr = S_OK;
        Bytes bytes;  // written into the output sample on success
        LONGLONG time = 0;
    };

    // --- script
    std::deque<HRESULT> input_answers;   // then S_OK
    std::deque<Answer> output_answers;   // then MF_E_TRANSFORM_NEED_MORE_INPUT
    std::deque<HRESULT> output_type_answers;  // then S_OK
    DWORD stream_flags = 0;
    DWORD stream_size = 0;
    bool with_codec_settings = true;
    Bytes sequence_header;

    // --- record
    std::vector<std::string> calls;
    std::vector<UINT32> profiles;
    IMFMediaType* current_output = nullptr;
    IMFMediaType* current_input = nullptr;
    struct Fed {
        Bytes bytes;
        LONGLONG time = -1;
        LONGLONG duration = -1;
    };
    std::vector<Fed> fed;
    std::vector<DWORD> offered_sizes;  // max length of the sample buffers handed in
    std::vector<std::pair<GUID, VARIANT>> codec_values;
    std::vector<MFT_MESSAGE_TYPE> messages;
    bool shut_down = false;

    FakeMfTransform() { MFCreateAttributes(&attributes_, 2); }
    ~FakeMfTransform() {
        if (queue_) queue_->Release();
        if (attributes_) attributes_->Release();
        if (current_output) current_output->Release();
        if (current_input) current_input->Release();
        for (auto& value : codec_values) VariantClear(&value.second);
    }
    IMFAttributes* attributes() { return attributes_; }

    void make_asynchronous() {
        attributes_->SetUINT32(MF_TRANSFORM_ASYNC, 1);
        MFCreateEventQueue(&queue_);
    }
    HRESULT queue_event(MediaEventType type) {
        return queue_->QueueEventParamVar(type, GUID_NULL, S_OK, nullptr);
    }
    ULONG references() const { return references_; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualGUID(iid, __uuidof(IUnknown)) || IsEqualGUID(iid, __uuidof(IMFTransform))) {
            *out = static_cast<IMFTransform*>(this);
        } else if (IsEqualGUID(iid, __uuidof(ICodecAPI)) && with_codec_settings) {
            *out = static_cast<ICodecAPI*>(this);
        } else if (IsEqualGUID(iid, __uuidof(IMFShutdown))) {
            *out = static_cast<IMFShutdown*>(this);
        } else if (IsEqualGUID(iid, __uuidof(IMFMediaEventGenerator)) && queue_) {
            *out = static_cast<IMFMediaEventGenerator*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // owned by the test

    // IMFTransform
    HRESULT STDMETHODCALLTYPE GetStreamLimits(DWORD*, DWORD*, DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamIDs(DWORD, DWORD*, DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputStreamInfo(DWORD, MFT_INPUT_STREAM_INFO*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD, MFT_OUTPUT_STREAM_INFO* info) override {
        std::memset(info, 0, sizeof *info);
        info->dwFlags = stream_flags;
        info->cbSize = stream_size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAttributes(IMFAttributes** out) override {
        attributes_->AddRef();
        *out = attributes_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInputStreamAttributes(DWORD, IMFAttributes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputStreamAttributes(DWORD, IMFAttributes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteInputStream(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddInputStreams(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputAvailableType(DWORD, DWORD, IMFMediaType**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputAvailableType(DWORD, DWORD index, IMFMediaType** out) override {
        calls.push_back("GetOutputAvailableType " + std::to_string(index));
        IMFMediaType* type = nullptr;
        HRESULT hr = MFCreateMediaType(&type);
        if (FAILED(hr)) return hr;
        type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
        type->SetUINT32(MF_MT_MPEG2_PROFILE, 66);
        *out = type;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetInputType(DWORD, IMFMediaType* type, DWORD) override {
        calls.push_back("SetInputType");
        if (current_input) current_input->Release();
        current_input = type;
        type->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetOutputType(DWORD, IMFMediaType* type, DWORD) override {
        calls.push_back("SetOutputType");
        UINT32 profile = 0;
        type->GetUINT32(MF_MT_MPEG2_PROFILE, &profile);
        profiles.push_back(profile);
        HRESULT hr = S_OK;
        if (!output_type_answers.empty()) {
            hr = output_type_answers.front();
            output_type_answers.pop_front();
        }
        if (SUCCEEDED(hr)) {
            if (current_output) current_output->Release();
            current_output = type;
            type->AddRef();
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetInputCurrentType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputCurrentType(DWORD, IMFMediaType** out) override {
        if (!current_output) return MF_E_TRANSFORM_TYPE_NOT_SET;
        IMFMediaType* type = nullptr;
        HRESULT hr = MFCreateMediaType(&type);
        if (FAILED(hr)) return hr;
        current_output->CopyAllItems(type);
        if (!sequence_header.empty())
            type->SetBlob(MF_MT_MPEG_SEQUENCE_HEADER, sequence_header.data(), sequence_header.size());
        *out = type;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInputStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputStatus(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOutputBounds(LONGLONG, LONGLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessEvent(DWORD, IMFMediaEvent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR) override {
        messages.push_back(message);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ProcessInput(DWORD, IMFSample* sample, DWORD) override {
        std::lock_guard lock(lock_);
        calls.push_back("ProcessInput");
        HRESULT hr = S_OK;
        if (!input_answers.empty()) {
            hr = input_answers.front();
            input_answers.pop_front();
        }
        if (FAILED(hr)) return hr;
        Fed entry;
        IMFMediaBuffer* buffer = nullptr;
        if (SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer))) {
            BYTE* data = nullptr;
            DWORD length = 0;
            if (SUCCEEDED(buffer->Lock(&data, nullptr, &length))) {
                entry.bytes.assign(data, data + length);
                buffer->Unlock();
            }
            buffer->Release();
        }
        sample->GetSampleTime(&entry.time);
        sample->GetSampleDuration(&entry.duration);
        fed.push_back(std::move(entry));
        if (queue_)
            for (std::size_t i = 0; i < output_answers.size(); ++i) queue_event(METransformHaveOutput);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers,
                                            DWORD* status) override {
        std::lock_guard lock(lock_);
        calls.push_back("ProcessOutput");
        *status = 0;
        if (count != 1) return E_INVALIDARG;
        if (buffers[0].pSample) {
            IMFMediaBuffer* buffer = nullptr;
            DWORD max_length = 0;
            if (SUCCEEDED(buffers[0].pSample->GetBufferByIndex(0, &buffer))) {
                buffer->GetMaxLength(&max_length);
                buffer->Release();
            }
            offered_sizes.push_back(max_length);
        } else {
            offered_sizes.push_back(0);
        }
        if (output_answers.empty()) return MF_E_TRANSFORM_NEED_MORE_INPUT;
        Answer answer = std::move(output_answers.front());
        output_answers.pop_front();
        if (FAILED(answer.hr)) return answer.hr;

        IMFSample* sample = buffers[0].pSample;
        if (!sample) {  // the transform brings its own
            IMFMediaBuffer* buffer = nullptr;
            MFCreateMemoryBuffer(static_cast<DWORD>(answer.bytes.size()), &buffer);
            MFCreateSample(&sample);
            sample->AddBuffer(buffer);
            buffer->Release();
            buffers[0].pSample = sample;
        }
        IMFMediaBuffer* buffer = nullptr;
        sample->GetBufferByIndex(0, &buffer);
        BYTE* data = nullptr;
        buffer->Lock(&data, nullptr, nullptr);
        std::memcpy(data, answer.bytes.data(), answer.bytes.size());
        buffer->Unlock();
        buffer->SetCurrentLength(static_cast<DWORD>(answer.bytes.size()));
        buffer->Release();
        if (answer.time >= 0) sample->SetSampleTime(answer.time);
        return S_OK;
    }

    // ICodecAPI
    HRESULT STDMETHODCALLTYPE IsSupported(const GUID*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsModifiable(const GUID*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetParameterRange(const GUID*, VARIANT*, VARIANT*, VARIANT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetParameterValues(const GUID*, VARIANT**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDefaultValue(const GUID*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetValue(const GUID*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetValue(const GUID* api, VARIANT* value) override {
        VARIANT copy;
        VariantInit(&copy);
        VariantCopy(&copy, value);
        codec_values.emplace_back(*api, copy);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RegisterForEvent(const GUID*, LONG_PTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterForEvent(const GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetAllDefaults() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetValueWithNotify(const GUID*, VARIANT*, GUID**, ULONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetAllDefaultsWithNotify(GUID**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAllSettings(IStream*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetAllSettings(IStream*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetAllSettingsWithNotify(IStream*, GUID**, ULONG*) override { return E_NOTIMPL; }

    // IMFShutdown
    HRESULT STDMETHODCALLTYPE Shutdown() override {
        shut_down = true;
        if (queue_) queue_->Shutdown();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetShutdownStatus(MFSHUTDOWN_STATUS*) override { return E_NOTIMPL; }

    // IMFMediaEventGenerator
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD flags, IMFMediaEvent** event) override {
        return queue_->GetEvent(flags, event);
    }
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override {
        return queue_->BeginGetEvent(callback, state);
    }
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
        return queue_->EndGetEvent(result, event);
    }
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                                         const PROPVARIANT* value) override {
        return queue_->QueueEventParamVar(type, extended, status, value);
    }

private:
    std::mutex lock_;
    IMFMediaEventQueue* queue_ = nullptr;
    std::atomic<ULONG> references_{1};
    IMFAttributes* attributes_ = nullptr;
};

}  // namespace vorlix::testing
