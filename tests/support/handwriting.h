// A screen of handwriting for the ink tests and benchmark: 300 strokes at the
// default width, 48 points each, about a tenth of the screen wide with a wave
// of 2% of its height (roughly a word); three of them laser pointer strokes.
#pragma once

#include <cmath>
#include <utility>
#include <vector>

#include "ink/ink.h"

namespace vorlix::testing {

inline InkStrokes handwriting() {
    InkStrokes ink;
    for (int s = 0; s < 300; ++s) {
        InkStroke stroke{.id = s, .color = 0xff3b30, .laser = s % 100 == 99};
        const double x0 = 0.05 + 0.7 * ((s * 37) % 100) / 100.0, y0 = 0.05 + 0.9 * ((s * 61) % 100) / 100.0;
        for (int i = 0; i < 48; ++i) {
            stroke.points.insert(stroke.points.end(), {x0 + 0.002 * i, y0 + 0.01 * std::sin(i * 0.4)});
        }
        ink.strokes.push_back(std::move(stroke));
    }
    return ink;
}

}  // namespace vorlix::testing
