#include "win/levels/wmi_brightness.h"

#include <windows.h>
#include <wbemidl.h>

#include "host/log.h"
#include "host/session_log.h"
#include "win/stream/com_ref.h"
#include "win/system/com_ids.h"
#include "win/system/wide.h"

namespace vorlix {

namespace {

// How long one query waits for its first object: a hung provider must not
// hold the levels thread (and with it volume and mute) for good.
constexpr long kFirstObjectTimeoutMs = 2000;
constexpr const wchar_t* kReadQuery = L"SELECT CurrentBrightness FROM WmiMonitorBrightness WHERE Active=TRUE";

class Bstr {
public:
    explicit Bstr(const wchar_t* text) : text_(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return text_; }

private:
    BSTR text_;
};

struct FirstObject {
    ComRef<IWbemClassObject> object;
    bool timed_out = false;
    HRESULT error = S_OK;
};

// Runs a WQL query and takes its first object, waiting a bounded time.
FirstObject wmi_first_object(IWbemServices* services, const wchar_t* query) {
    FirstObject first;
    ComRef<IEnumWbemClassObject> rows;
    first.error = services->ExecQuery(Bstr(L"WQL"), Bstr(query), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                      nullptr, rows.put());
    if (FAILED(first.error) || !rows) return first;
    ULONG returned = 0;
    const HRESULT hr = rows->Next(kFirstObjectTimeoutMs, 1, first.object.put(), &returned);
    if (hr == WBEM_S_TIMEDOUT) first.timed_out = true;
    if (FAILED(hr)) first.error = hr;
    if (hr != WBEM_S_NO_ERROR || returned != 1) first.object.reset();
    return first;
}

std::optional<double> read_current_brightness(IWbemClassObject* object) {
    VARIANT value;
    VariantInit(&value);
    std::optional<double> brightness;
    if (SUCCEEDED(object->Get(L"CurrentBrightness", 0, &value, nullptr, nullptr)) && value.vt != VT_NULL &&
        value.vt != VT_EMPTY && SUCCEEDED(VariantChangeType(&value, &value, 0, VT_UI1))) {
        brightness = value.bVal / 100.0;
    }
    VariantClear(&value);
    return brightness;
}

}  // namespace

WmiBrightness::WmiBrightness() = default;

WmiBrightness::~WmiBrightness() {
    if (services_) services_->Release();
}

IWbemServices* WmiBrightness::connect() {
    if (!connection_.due()) return services_;
    probe_timed_out_ = false;
    ComRef<IWbemLocator> locator;
    ComRef<IWbemServices> services;
    auto outcome = BrightnessConnection::Outcome::absent;
    HRESULT hr = CoCreateInstance(com_ids::kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWbemLocator),
                                  locator.put_void());
    if (SUCCEEDED(hr))
        hr = locator->ConnectServer(Bstr(L"ROOT\\WMI"), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.put());
    if (SUCCEEDED(hr) && !services) hr = E_POINTER;
    if (SUCCEEDED(hr)) {
        CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                          RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);  // a failure is ignored
        FirstObject probe = wmi_first_object(services.get(), kReadQuery);
        probe_timed_out_ = probe.timed_out;
        hr = probe.error;
        if (probe.object && read_current_brightness(probe.object.get()).has_value())
            outcome = BrightnessConnection::Outcome::available;
        else if (probe.timed_out)  // a provider that hangs now may answer later
            outcome = BrightnessConnection::Outcome::retry;
    }
    // A WMI service that is restarting answers again shortly.
    if (outcome == BrightnessConnection::Outcome::absent && brightness_service_gone(static_cast<std::uint32_t>(hr)))
        outcome = BrightnessConnection::Outcome::retry;
    if (auto line = connection_.record(outcome)) log_line(*line);
    if (connection_.available()) {
        services_ = services.get();
        services_->AddRef();
    }
    return services_;
}

void WmiBrightness::forget_if_gone(HRESULT code) {
    if (!services_ || !connection_.forget_on(static_cast<std::uint32_t>(code))) return;
    services_->Release();
    services_ = nullptr;
}

BrightnessReading WmiBrightness::read() {
    IWbemServices* services = connect();
    if (!services) return {std::nullopt, probe_timed_out_};
    FirstObject row = wmi_first_object(services, kReadQuery);
    if (!row.object) {
        forget_if_gone(row.error);
        return {std::nullopt, row.timed_out};
    }
    return {read_current_brightness(row.object.get()), false};
}

void WmiBrightness::set(std::uint8_t percent) {
    IWbemServices* services = connect();
    if (!services) return;
    FirstObject row = wmi_first_object(services, L"SELECT * FROM WmiMonitorBrightnessMethods WHERE Active=TRUE");
    std::string failure;
    VARIANT path;
    VariantInit(&path);
    if (row.timed_out) {
        failure = "the screen brightness did not answer in time";
    } else if (!row.object) {
        failure = FAILED(row.error) ? system_error_text(static_cast<unsigned long>(row.error))
                                    : "no screen brightness control was found";
        forget_if_gone(row.error);
    } else if (HRESULT got = row.object->Get(L"__PATH", 0, &path, nullptr, nullptr); FAILED(got) || path.vt != VT_BSTR) {
        failure = FAILED(got) ? system_error_text(static_cast<unsigned long>(got)) : "no screen brightness control was found";
    } else {
        ComRef<IWbemClassObject> methods, definition, in;
        HRESULT hr = services->GetObject(Bstr(L"WmiMonitorBrightnessMethods"), 0, nullptr, methods.put(), nullptr);
        if (SUCCEEDED(hr)) hr = methods->GetMethod(L"WmiSetBrightness", 0, definition.put(), nullptr);
        if (SUCCEEDED(hr) && !definition) hr = E_FAIL;
        if (SUCCEEDED(hr)) hr = definition->SpawnInstance(0, in.put());
        VARIANT value;
        VariantInit(&value);
        if (SUCCEEDED(hr)) {
            value.vt = VT_I4;
            value.lVal = 0;
            hr = in->Put(L"Timeout", 0, &value, 0);
        }
        if (SUCCEEDED(hr)) {
            value.vt = VT_UI1;
            value.bVal = percent;
            hr = in->Put(L"Brightness", 0, &value, 0);
        }
        if (SUCCEEDED(hr)) hr = services->ExecMethod(path.bstrVal, Bstr(L"WmiSetBrightness"), 0, nullptr, in.get(), nullptr, nullptr);
        if (FAILED(hr)) {
            failure = system_error_text(static_cast<unsigned long>(hr));
            forget_if_gone(hr);
        }
    }
    VariantClear(&path);
    if (!failure.empty()) {
        RequestLines lines("setLevel");
        log_line("levels: brightness not set: " + failure);
    }
}

}  // namespace vorlix
