#include "win/update/web_download.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdio>

#include "update/manifest.h"
#include "update/web_link.h"
#include "win/system/wide.h"

namespace vorlix {
namespace {

// One WinHTTP handle, closed when it goes.
class HttpHandle {
public:
    explicit HttpHandle(HINTERNET handle) : handle_(handle) {}
    ~HttpHandle() {
        if (handle_) WinHttpCloseHandle(handle_);
    }
    HttpHandle(const HttpHandle&) = delete;
    HttpHandle& operator=(const HttpHandle&) = delete;
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_;
};

std::string last_error_text() { return web_error_text(GetLastError()); }

Error failed(const std::string& what) { return Error(what + " failed (" + last_error_text() + ")"); }

}  // namespace

std::string web_error_text(unsigned long code) {
    const HRESULT hr = HRESULT_FROM_WIN32(code);
    wchar_t* buffer = nullptr;
    DWORD length = 0;
    if (code >= WINHTTP_ERROR_BASE && code <= WINHTTP_ERROR_LAST) {
        // The system's table has no texts for WinHTTP's own codes.
        if (HMODULE module = GetModuleHandleW(L"winhttp.dll")) {
            length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    module, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        }
    } else {
        length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    }
    std::string text;
    if (buffer) {
        text = wide_to_string(buffer, length);
        LocalFree(buffer);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lx", static_cast<unsigned long>(hr));
    return text.empty() ? std::string(hex) : text + " (" + hex + ")";
}

Result<Bytes> download_url(const std::string& text, std::uint64_t limit) {
    const std::optional<WebLink> link = parse_web_link(text);
    if (!link) return Error("not a web link");
    const std::wstring agent = to_wide("VorLix/" + std::string(kAppVersion) + " (Windows; " +
                                       std::string(kUpdateBuildKey) + ")");
    const HttpHandle session(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return failed("WinHttpOpen");
    (void)WinHttpSetTimeouts(session.get(), 15000, 15000, 30000, 60000);
    const HttpHandle connection(WinHttpConnect(session.get(), to_wide(link->host).c_str(), link->port, 0));
    if (!connection) return failed("connecting");
    const HttpHandle request(WinHttpOpenRequest(connection.get(), L"GET", to_wide(link->path).c_str(), nullptr,
                                                WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                link->secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return failed("the request");
    (void)WinHttpAddRequestHeaders(request.get(), L"Cache-Control: no-cache\r\n", static_cast<DWORD>(-1L),
                                   WINHTTP_ADDREQ_FLAG_ADD);
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return Error("could not reach " + link->host + " (" + last_error_text() + ")");
    }
    if (!WinHttpReceiveResponse(request.get(), nullptr)) {
        return Error("no answer from " + link->host + " (" + last_error_text() + ")");
    }
    DWORD status = 0;
    DWORD status_size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX)) {
        return Error("no status (" + last_error_text() + ")");
    }
    if (status != 200) return Error(link->host + " answered " + std::to_string(status));
    Bytes body;
    while (true) {
        const std::size_t at = body.size();
        body.resize(at + 65536);
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), body.data() + at, 65536, &read)) {
            return Error("the download stopped (" + last_error_text() + ")");
        }
        body.resize(at + read);
        if (body.size() > limit) return Error("the download is bigger than expected");
        if (read == 0) return body;
    }
}

}  // namespace vorlix
