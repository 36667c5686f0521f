// How often `part` occurs in `text`, overlapping occurrences counted; how many lines of a kind a log told.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

namespace vorlix::testing {

inline int occurrences(std::string_view text, std::string_view part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// How many lines of `kind` the link log told in `log`: written whole
// (holding `whole`) or counted in lines led by `counted`.
inline std::uint64_t told(const std::string& log, const std::string& kind, const std::string& whole = {},
                          const std::string& counted = "links that did not sign in since ") {
    std::uint64_t total = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(counted) == std::string::npos) {
            total += line.find(whole.empty() ? kind : whole) != std::string::npos;
        } else if (const auto at = line.find(kind + " ("); at != std::string::npos) {
            total += std::stoull(line.substr(at + kind.size() + 2));
        }
    }
    return total;
}

}  // namespace vorlix::testing
