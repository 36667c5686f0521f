#include "win/ui/sign_in.h"

#include <windows.h>

#include <vector>

#include "app/text.h"
#include "host/log.h"
#include "ui/host_view.h"
#include "win/system/wide.h"

namespace vorlix {
namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kApprovedKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr wchar_t kValueName[] = L"VorLix";

}  // namespace

bool sign_in_disabled() {
    std::vector<std::uint8_t> value(12);
    DWORD size = static_cast<DWORD>(value.size());
    if (RegGetValueW(HKEY_CURRENT_USER, kApprovedKey, kValueName, RRF_RT_REG_BINARY, nullptr, value.data(), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    value.resize(size);
    return startup_approved_disables(value);
}

std::optional<std::string> read_run_value() {
    std::vector<wchar_t> buffer(1024);  // 2048 bytes
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, buffer.data(), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return wide_to_string(buffer.data(), std::min<std::size_t>(size / sizeof(wchar_t), buffer.size()));
}

std::optional<std::string> expected_run_data() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return std::nullopt;
    path.resize(length);
    return run_value_data(wide_to_string(path));
}

bool sign_in_state() { return read_run_value().has_value() && !sign_in_disabled(); }

bool sign_in_write() {
    const auto data = expected_run_data();
    if (!data) return false;
    const std::wstring wide = to_wide(*data);
    const LONG error = RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName, REG_SZ, wide.c_str(),
                                       static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    if (error != ERROR_SUCCESS) {
        log_line("open at sign-in: could not write the Run value (" + std::to_string(error) + ")");
        return false;
    }
    return true;
}

void sign_in_set(bool on) {
    if (on) {
        if (!sign_in_write()) return;
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kApprovedKey, kValueName);
        log_line("open at sign-in: on");
    } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName);
        log_line("open at sign-in: off");
    }
}

void sign_in_repoint(const std::filesystem::path& data_folder, bool new_install) {
    const auto run_value = new_install ? std::nullopt : read_run_value();
    const auto expected = new_install ? std::nullopt : expected_run_data();
    const bool disabled = !new_install && run_value && sign_in_disabled();
    const RepointDecision decision =
        decide_sign_in_repoint(new_install, path_to_utf8(data_folder), run_value, expected, disabled);
    log_line(decision.log);
    if (decision.action == RepointDecision::Action::TurnOn) sign_in_set(true);
    if (decision.action == RepointDecision::Action::Rewrite) sign_in_write();
}

}  // namespace vorlix
