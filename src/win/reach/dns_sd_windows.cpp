// DNS-SD registration through the functions that Windows 10 1809 added to
// dnsapi.dll. They are looked up at run time: older systems (and Wine) lack
// them, and the program must still start there.
#include <windows.h>
#include <windns.h>

#include <mutex>

#include "host/log.h"
#include "win/capture/win_capture.h"
#include "win/reach/reach_windows.h"
#include "win/system/system_function.h"

namespace vorlix {

namespace {

constexpr DWORD kDnsRequestPending = 9506;

using ConstructInstanceFn = PDNS_SERVICE_INSTANCE(WINAPI*)(PCWSTR, PCWSTR, PIP4_ADDRESS, PIP6_ADDRESS, WORD, WORD,
                                                          WORD, DWORD, PCWSTR*, PCWSTR*);
using FreeInstanceFn = VOID(WINAPI*)(PDNS_SERVICE_INSTANCE);
using RegisterFn = DWORD(WINAPI*)(PDNS_SERVICE_REGISTER_REQUEST, PDNS_SERVICE_CANCEL);

struct DnsSdFunctions {
    ConstructInstanceFn construct = nullptr;
    FreeInstanceFn free_instance = nullptr;
    RegisterFn register_service = nullptr;
    RegisterFn deregister = nullptr;

    bool complete() const { return construct && free_instance && register_service && deregister; }
};

// Looked up once; the library stays loaded for the life of the process.
const DnsSdFunctions& dns_sd_functions() {
    static const DnsSdFunctions functions = [] {
        DnsSdFunctions found;
        found.construct = system_function<ConstructInstanceFn>(L"dnsapi.dll", "DnsServiceConstructInstance");
        found.free_instance = system_function<FreeInstanceFn>(L"dnsapi.dll", "DnsServiceFreeInstance");
        found.register_service = system_function<RegisterFn>(L"dnsapi.dll", "DnsServiceRegister");
        found.deregister = system_function<RegisterFn>(L"dnsapi.dll", "DnsServiceDeRegister");
        return found;
    }();
    return functions;
}

// One registration: the request and the instance it points to live until
// the system has finished with both.
struct LiveRegistration {
    DNS_SERVICE_REGISTER_REQUEST request{};
    PDNS_SERVICE_INSTANCE instance = nullptr;
};

void release(LiveRegistration* registration) {
    if (registration->instance) dns_sd_functions().free_instance(registration->instance);
    delete registration;
}

// The system hands each completion a copy of the instance for the caller to
// free.
void free_given_instance(PDNS_SERVICE_INSTANCE given, const LiveRegistration* own) {
    if (given && (!own || given != own->instance)) dns_sd_functions().free_instance(given);
}

VOID WINAPI on_advertise_registered(DWORD status, PVOID, PDNS_SERVICE_INSTANCE instance) {
    log_line(registration_finished_text(status));
    free_given_instance(instance, nullptr);
}

VOID WINAPI on_advertise_withdrawn(DWORD, PVOID context, PDNS_SERVICE_INSTANCE instance) {
    auto* registration = static_cast<LiveRegistration*>(context);
    free_given_instance(instance, registration);
    if (registration) release(registration);
}

class WindowsDnsSd final : public DnsSdSystem {
public:
    Outcome register_service(const Announcement& announcement) override {
        const DnsSdFunctions& dns = dns_sd_functions();
        if (!dns.complete()) return {};
        std::vector<PCWSTR> keys;
        std::vector<PCWSTR> values;
        for (const auto& key : announcement.txt.keys) keys.push_back(reinterpret_cast<PCWSTR>(key.c_str()));
        for (const auto& value : announcement.txt.values) values.push_back(reinterpret_cast<PCWSTR>(value.c_str()));
        PDNS_SERVICE_INSTANCE instance =
            dns.construct(reinterpret_cast<PCWSTR>(announcement.instance_name.c_str()),
                          reinterpret_cast<PCWSTR>(announcement.host_name.c_str()), nullptr, nullptr,
                          announcement.port, 0, 0, static_cast<DWORD>(keys.size()), keys.data(), values.data());
        if (!instance) return {};
        auto* registration = new LiveRegistration;
        registration->instance = instance;
        registration->request.Version = DNS_QUERY_REQUEST_VERSION1;
        registration->request.InterfaceIndex = 0;
        registration->request.pServiceInstance = instance;
        registration->request.pRegisterCompletionCallback = on_advertise_registered;
        registration->request.pQueryContext = nullptr;
        registration->request.hCredentials = nullptr;
        registration->request.unicastEnabled = FALSE;
        const DWORD answer = dns.register_service(&registration->request, nullptr);
        if (answer != kDnsRequestPending) {
            release(registration);
            return {Outcome::Kind::Refused, static_cast<std::uint32_t>(answer), 0};
        }
        return {Outcome::Kind::Pending, 0, reinterpret_cast<Handle>(registration)};
    }

    void withdraw(Handle handle) override {
        auto* registration = reinterpret_cast<LiveRegistration*>(handle);
        // The withdrawal's completion releases the registration; one refused
        // at once never completes, so it is released here.
        registration->request.pRegisterCompletionCallback = on_advertise_withdrawn;
        registration->request.pQueryContext = registration;
        if (dns_sd_functions().deregister(&registration->request, nullptr) != kDnsRequestPending) {
            release(registration);
        }
    }
};

Advertiser& process_advertiser() {
    // Never destroyed: the system's callbacks may still run at exit.
    static Advertiser* const advertiser = new Advertiser(windows_dns_sd());
    return *advertiser;
}

}  // namespace

std::shared_ptr<DnsSdSystem> windows_dns_sd() { return std::make_shared<WindowsDnsSd>(); }

bool dns_sd_available() { return dns_sd_functions().complete(); }

void start_advertising(const std::string& name, const std::string& host_name, std::uint16_t port,
                       const TxtPairs& pairs) {
    if (read_environment(L"VORLIX_DNS_SD") == std::optional<std::string>("off")) {
        log_line("Bonjour: not announced (VORLIX_DNS_SD is off)");
        return;
    }
    process_advertiser().start(name, host_name, port, pairs);
}

void stop_advertising() { process_advertiser().stop(); }

}  // namespace vorlix
