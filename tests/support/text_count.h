// How often `part` occurs in `text`, overlapping occurrences counted.
#pragma once

#include <string_view>

namespace vorlix::testing {

inline int occurrences(std::string_view text, std::string_view part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace vorlix::testing
