// One GET of a web link into memory through WinHTTP, with a byte limit.
#pragma once

#include <cstdint>
#include <string>

#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

// The body of a 200 answer, or the short error text of the failing step.
Result<Bytes> download_url(const std::string& link, std::uint64_t limit);

// The text of a WinHTTP or system error code: the message of winhttp.dll
// or of the system, else the code as an HRESULT in hexadecimal.
std::string web_error_text(unsigned long code);

}  // namespace vorlix
