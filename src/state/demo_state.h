// demo_state.h -- the values every part of tessera shares.
//
// All state is global and lives for the whole run. The timeline is the only
// writer of SceneFlags and TimelineCues; the frame loop and the effects read
// them. The clock and the three spectrum levels are written once per frame by
// updateFrame.
#pragma once

#include <cstdint>

// Degrees to radians with pi taken as 3.1415 (3.1415 / 180). Every angle of
// the demo's motion goes through this factor, so its speeds and paths are
// those of the pictures it is made to show; it is 0.003 % smaller than the
// exact pi / 180.
constexpr float kDegToRad = 0.017452778f;

// The same factor in double, for the angles computed in double precision.
// Its float rounding is kDegToRad.
constexpr double kDegToRadDouble = 3.1415 / 180.0;
static_assert(float(kDegToRadDouble) == kDegToRad);

// One flag per scene or overlay pass. A change of scene switches off the
// title card, the radial overlay and the five scenes together
// (schedule::kSceneBlock); the chessboard and face overlay flags change only
// by their own keys of the schedule.
struct SceneFlags {
    bool titleCardOn = false;
    bool radialOverlayOn = false;
    bool displacedSceneOn = false;
    bool windowSceneOn = false;
    bool halftoneSceneOn = false;
    bool volumeSceneOn = false;
    bool floorSceneOn = false;
    bool chessboardOverlayOn = false;
    bool faceOverlayOn = false;
};

// Everything else the schedule steers.
struct TimelineCues {
    int32_t cameraIndex = 0;          // entry of the eye tables, 0..5
    float titleFadeLevel = 0.0f;      // grey level of the title card
    bool titleCardFirst = true;       // opening card (true) or closing card
    float letterboxEdge = 0.8f;       // inner edge of the bars, -1..1 units
    int32_t chessboardFrame = 0;      // chessboard picture 0..3
    int32_t windowMeshIndex = 0;      // mesh of the window scene 0..3
    bool windowShowsMesh = true;      // window shows a mesh copy, else a 2D element
    int32_t windowElementIndex = 0;   // 0 square grid, 1 bars
    bool windowPulseOn = false;       // window scene's pulse accumulator runs
    bool barsHorizontal = true;       // bars sweep vertically when true
    int32_t halftoneMeshIndex = 0;    // 0 or 1
    bool cameraFollowsLight = false;  // halftone eye rides on its light
    bool brushCamera = false;         // volume scene looks from the origin at the brush
    bool brushCircleOn = false;       // brush runs once round its circle
    bool brushWanderOn = false;       // brush follows its wandering path
    bool faceLayer3On = false;        // always-on face pass draws its third layer
};

// Magnitudes (0..1) of spectrum bins 100, 150 and 250 (about 4.3, 6.5 and
// 10.8 kHz), read at the end of each update: a frame draws with the levels of
// the previous frame.
struct SpectrumBands {
    float band100 = 0.0f;
    float band150 = 0.0f;
    float band250 = 0.0f;
};

extern SceneFlags sceneFlags;
extern TimelineCues cues;
extern SpectrumBands bands;

// The music clock in milliseconds and its step since the previous frame.
extern float musicTimeMs;
extern float prevMusicTimeMs;
extern float frameDeltaMs;

// The open music stream (filled by the start-up sequence).
struct MusicStream;
extern MusicStream* musicStream;

// The 512-bin spectrum of the music; valid for the whole run once start-up
// has fetched it (null before).
extern const float* spectrum;

// Per-frame values computed by updateFrame for the halftone and floor scenes
// and the square-grid element.
extern float halftoneLightPos[3];
extern float halftoneWobble[3];
extern float floorSpinPhase;
extern float gridSquareHalfSize;

// The cube volume scene's lattice, cell (x, y, z) at (x * 30 + y) * 30 + z.
// The schedule seeds it, the scene grows, fades and draws it.
constexpr int kVolumeSide = 30;
constexpr int kVolumeCells = kVolumeSide * kVolumeSide * kVolumeSide;
extern float volumeGrid[kVolumeCells];

// The window title: the music position as decimal text.
extern char titleText[256];

// Fixed eye positions, indexed by cues.cameraIndex.
extern const float halftoneEyeTable[6][3];
extern const float volumeEyeTable[6][3];
extern const float floorEyeTable[6][3];

// The one pseudo-random generator every effect shares. The order of the calls
// across start-up and the frame loop decides which values each effect gets,
// so it is never reseeded.
extern uint32_t randomState;
int nextRandom();
