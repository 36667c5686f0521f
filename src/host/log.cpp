#include "host/log.h"

#include <cstdio>
#include <string>

namespace vorlix {

// Interim writer: standard error only. The file-backed writer replaces it.
void log_line(std::string_view message) {
    std::string line(message);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void open_log_file(const std::filesystem::path&) {}

}  // namespace vorlix
