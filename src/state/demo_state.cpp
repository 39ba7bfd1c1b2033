// demo_state.cpp -- storage for the shared values of demo_state.h.
#include "state/demo_state.h"

SceneFlags sceneFlags;
TimelineCues cues;
SpectrumBands bands;

float musicTimeMs = 0.0f;
float prevMusicTimeMs = 0.0f;
float frameDeltaMs = 0.0f;
MusicStream* musicStream = nullptr;
const float* spectrum = nullptr;

float halftoneLightPos[3];
float halftoneWobble[3];
float floorSpinPhase = 0.0f;
float gridSquareHalfSize = 0.02f;
float volumeGrid[kVolumeCells];

char titleText[256];

const float halftoneEyeTable[6][3] = {
    {10, 10, 10}, {20, -20, 20}, {-10, 10, -10}, {12, -12, 12}, {20, -20, -20}, {10, -10, -10}};
const float volumeEyeTable[6][3] = {
    {10, 10, 10}, {10, -10, 11}, {-10, 10, -10}, {11, -10, 10}, {10, -11, -10}, {10, -10, -10}};
const float floorEyeTable[6][3] = {
    {60, 70, -60}, {70, 70, 30}, {-50, 70, -70}, {72, 70, 42}, {-80, 70, -20}, {40, 70, -70}};

uint32_t randomState = 1;

// Linear congruential step; the upper 15 bits of the state are the result.
// Unsigned arithmetic wraps modulo 2^32 as the generator requires.
int nextRandom() {
    randomState = randomState * 214013u + 2531011u;
    return int((randomState >> 16) & 0x7FFFu);
}
