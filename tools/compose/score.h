// score.h -- the arrangement: renders the whole piece into a stereo buffer.
#pragma once

#include <vector>

namespace soundtrack {

// Levels of the bright noise that reaches the three analysed frequencies
// (about 4.3, 6.5 and 10.8 kHz) and of the sizzle above them, per source.
struct BrightGains {
    float g100, g150, g250, top;
};

// Renders the piece, mastered, as interleaved stereo floats in -1..1.
// frames receives the length in frames.
std::vector<float> renderPiece(long* frames);

}  // namespace soundtrack
