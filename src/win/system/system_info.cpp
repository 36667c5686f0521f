#include "win/system/system_info.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "app/system_text.h"
#include "app/text.h"
#include "win/system/wide.h"

namespace vorlix {
namespace {

std::optional<std::string> computer_name_of(COMPUTER_NAME_FORMAT format) {
    wchar_t buffer[256] = {};
    DWORD size = 256;
    if (!GetComputerNameExW(format, buffer, &size)) return std::nullopt;
    std::string name = wide_to_string(buffer, 256);
    if (name.empty()) return std::nullopt;
    return name;
}

std::optional<std::string> computer_name_variable() {
    const DWORD needed = GetEnvironmentVariableW(L"COMPUTERNAME", nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetEnvironmentVariableW(L"COMPUTERNAME", buffer.data(), needed);
    if (length == 0 || length >= needed) return std::nullopt;
    // Only a name that is valid Unicode (no unpaired surrogates) is taken.
    for (DWORD i = 0; i < length; ++i) {
        const wchar_t u = buffer[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= length || buffer[i + 1] < 0xDC00 || buffer[i + 1] > 0xDFFF) return std::nullopt;
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return std::nullopt;
        }
    }
    return wide_to_string(buffer.data(), length);
}

}  // namespace

std::string read_computer_name() {
    return choose_computer_name({computer_name_of(ComputerNamePhysicalDnsHostname),
                                 computer_name_of(ComputerNameDnsHostname), computer_name_variable()});
}

std::optional<std::string> read_bios_value(const wchar_t* name) {
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer;
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\BIOS", name,
                                        RRF_RT_REG_SZ, nullptr, buffer, &size);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return clean_bios_text(wide_to_string(buffer, 256));
}

std::string read_computer_model() {
    return model_text(read_bios_value(L"SystemManufacturer"), read_bios_value(L"SystemProductName"));
}

}  // namespace vorlix
