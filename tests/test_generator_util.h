// test_generator_util.h -- the demo's shared generator run on a copy of its
// state, so a test can say which values an effect should have drawn, and
// where the generator should stand after it, without touching randomState.
#pragma once

#include <cstdint>
#include <vector>

namespace testgen {

// The next count values from state; state is left after them.
inline std::vector<int> drawsFrom(uint32_t& state, int count) {
    std::vector<int> out;
    for (int i = 0; i < count; ++i) {
        state = state * 214013u + 2531011u;
        out.push_back(int((state >> 16) & 0x7FFF));
    }
    return out;
}

// Where the generator stands after count draws from state.
inline uint32_t stateAfter(uint32_t state, int count) {
    drawsFrom(state, count);
    return state;
}

}  // namespace testgen
