// What was written to standard error since ::testing::internal::CaptureStderr.
// The log may hand its lines to a thread of its own (when standard error was a
// pipe at its first line), so the lines still on their way are waited for first.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "host/log.h"

namespace vorlix {

inline std::string captured_stderr() {
    flush_standard_error(std::chrono::seconds(5));
    return ::testing::internal::GetCapturedStderr();
}

}  // namespace vorlix
