// Reads what the process-wide log writer wrote while an object of this type
// was alive. The writer is pointed at one log file for the whole test program.
#pragma once

#include <string>

#include "host/log.h"
#include "temp_folder.h"

namespace vorlix::test {

class LogCapture {
public:
    LogCapture() {
        open_log_file(path());
        start_ = read_file(path()).size();
    }
    // The lines written since construction, without their time texts.
    std::string messages() const {
        const std::string text = read_file(path()).substr(start_);
        std::string out;
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            // "HH:MM:SS.mmm " is 13 characters.
            if (end - at >= 13) out += text.substr(at + 13, end - at - 13) + "\n";
            at = end + 1;
        }
        return out;
    }

private:
    static const std::filesystem::path& path() {
        static TempFolder* folder = new TempFolder();  // the writer keeps the file open
        static const std::filesystem::path file = folder->path() / "vorlix.log";
        return file;
    }
    std::size_t start_ = 0;
};

}  // namespace vorlix::test
