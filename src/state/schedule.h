// schedule.h -- when things happen in the demo, written down once.
//
// Every music position (ms) at which the picture changes is named here. The
// timeline switches its scenes and cues on them, the composer puts the
// soundtrack's accents and sections on them, and the benches, the schedule
// sheet and the tests find the schedule's rows and sections by them. Plain
// constexpr data with no other includes, so a tool can read it without
// linking the demo.
#pragma once

#include <cstddef>
#include <cstdint>

namespace schedule {

// The rows: each runs from its start up to the next row's start.
constexpr int32_t kCardFadesMs = 16000;       // the opening card fades out
constexpr int32_t kRadialMs = 18000;          // the radial overlay alone
constexpr int32_t kWindowMs = 25700;          // the window scene over it
constexpr int32_t kChessboardMs = 34800;      // the chessboard's four frames
constexpr int32_t kDisplacedMs = 37500;       // window with bars, displaced scene
constexpr int32_t kPulseMs = 45800;           // the window pulses, the bars turn
constexpr int32_t kVolumeMs = 54800;          // the cube volume
constexpr int32_t kBrushWanderMs = 66500;     // the brush wanders, seen from the origin
constexpr int32_t kBrushCircleMs = 73000;     // the brush runs round its circle
constexpr int32_t kVolumeEyesMs = 81800;      // the brush's eye, then fixed eyes
constexpr int32_t kBreakMs = 86800;           // the break: nothing but the always-on passes
constexpr int32_t kWanderAgainMs = 90000;
constexpr int32_t kSeedingMs = 91000;         // fresh cells seeded every frame
constexpr int32_t kReseedingMs = 116300;      // seeded again, seen from the origin
constexpr int32_t kCircleAgainMs = 119300;
constexpr int32_t kVolumeTourMs = 120200;     // the volume's eyes in turn
constexpr int32_t kVolumeHeldMs = 136000;     // a second with nothing changed
constexpr int32_t kHalftoneMs = 137000;       // the halftone scene under the faces
constexpr int32_t kHalftoneMeshMs = 140200;   // the other mesh
constexpr int32_t kHalftoneTourMs = 144800;   // eyes and meshes take turns
constexpr int32_t kHalftoneEye5Ms = 165000;
constexpr int32_t kHalftoneEye4Ms = 171000;
constexpr int32_t kHalftoneHeldMs = 186300;
constexpr int32_t kLightRideMs = 187200;      // the eye rides on the light for 200 ms;
constexpr int32_t kLightRideEndsMs = 187400;  // a slow frame can miss it
constexpr int32_t kFloorMs = 209200;          // the floor scene
constexpr int32_t kFloorHeldMs = 221000;
constexpr int32_t kClosingMs = 245000;        // the letterbox closes
constexpr int32_t kEndMs = 260000;            // the program ends

constexpr int32_t kRowStartsMs[] = {
    0,           kCardFadesMs,    kRadialMs,       kWindowMs,       kChessboardMs,    kDisplacedMs,
    kPulseMs,    kVolumeMs,       kBrushWanderMs,  kBrushCircleMs,  kVolumeEyesMs,    kBreakMs,
    kWanderAgainMs, kSeedingMs,   kReseedingMs,    kCircleAgainMs,  kVolumeTourMs,    kVolumeHeldMs,
    kHalftoneMs, kHalftoneMeshMs, kHalftoneTourMs, kHalftoneEye5Ms, kHalftoneEye4Ms,  kHalftoneHeldMs,
    kLightRideMs, kLightRideEndsMs, kFloorMs,      kFloorHeldMs,    kClosingMs,
};

// Changes inside the rows. They take effect once the clock has passed them,
// from the next whole millisecond on: a frame drawn exactly at one still
// shows what came before.
constexpr int32_t kWindowMeshMs[] = {26200, 28800, 31000, 32000};
constexpr int32_t kChessboardFramesMs[] = {35000, 35500, 36100, 36300};
constexpr int32_t kPulseStopsMs = 47000;
constexpr int32_t kBrushEyeOffMs = 69000;
constexpr int32_t kBrushEyeOnMs = 75000;
constexpr int32_t kCircleDoneMs = 76000;
constexpr int32_t kVolumeEyeMs[] = {82700, 83000, 84600};
constexpr int32_t kReturnMs = 89000;          // the cubes come back after the break
constexpr int32_t kWanderResumesMs = 95000;
constexpr int32_t kVolumeTourEyeMs[] = {125000, 130000};
constexpr int32_t kWanderStopsMs = 131000;    // the brush stops; seeding starts again
constexpr int32_t kHalftoneSwapMs[] = {152800, 156800, 160800};
constexpr int32_t kClosingCardMs = 250000;    // the closing card fades in

// Seeding runs from these row starts up to (not including) these ends.
constexpr int32_t kSeedingEndsMs = 97000;
constexpr int32_t kReseedingEndsMs = 118000;

// The first whole millisecond past a change inside a row.
constexpr int32_t past(int32_t ms) { return ms + 1; }

// The sections, each up to the next one's start, the last up to kEndMs: the
// stretches the benches report on and the soundtrack is arranged in.
struct Section {
    const char* name;
    int32_t startMs;
};
constexpr Section kSections[] = {
    {"intro", 0},                  {"build", kRadialMs},         {"first", kWindowMs},
    {"chess", kChessboardMs},      {"second", kDisplacedMs},     {"riser", kPulseMs},
    {"landing", kPulseStopsMs},    {"volume", kVolumeMs},        {"break", kBreakMs},
    {"return", kReturnMs},         {"volume2", kSeedingMs},      {"halftone", kHalftoneMs},
    {"halftone2", kHalftoneEye5Ms}, {"floor", kFloorMs},          {"closing", kClosingMs},
    {"endcard", kClosingCardMs},
};
constexpr size_t kSectionCount = sizeof kSections / sizeof kSections[0];
constexpr int32_t sectionEndMs(size_t i) { return i + 1 < kSectionCount ? kSections[i + 1].startMs : kEndMs; }

// What the schedule switches, as a sync track: a sorted list of keys, the
// last key at or before the clock holds. A key turns its switches off, then
// on (so it can clear the scene block and turn one scene back on), and sets
// the indices that are not kKeep; everything else keeps what an earlier key
// left. The fades, the letterbox and the seeding step every frame and are
// not keys: the timeline runs them itself.
//
// One switch per scene flag and per on/off cue (shell/demo_state.h).
enum Switch : uint32_t {
    kTitleCard = 1u << 0,
    kRadialOverlay = 1u << 1,
    kDisplacedScene = 1u << 2,
    kWindowScene = 1u << 3,
    kHalftoneScene = 1u << 4,
    kVolumeScene = 1u << 5,
    kFloorScene = 1u << 6,
    kChessboardOverlay = 1u << 7,
    kFaceOverlay = 1u << 8,
    kFaceLayer3 = 1u << 9,
    kWindowShowsMesh = 1u << 10,
    kBarsHorizontal = 1u << 11,
    kWindowPulse = 1u << 12,
    kBrushWander = 1u << 13,
    kBrushCircle = 1u << 14,
    kBrushCamera = 1u << 15,
    kCameraFollowsLight = 1u << 16,
    kTitleCardFirst = 1u << 17,
};
constexpr int kSwitchCount = 18;

// The seven scenes a change of scene switches off together.
constexpr uint32_t kSceneBlock =
    kTitleCard | kRadialOverlay | kDisplacedScene | kWindowScene | kHalftoneScene | kVolumeScene | kFloorScene;

constexpr int8_t kKeep = -1;

struct Key {
    int32_t fromMs;            // the first whole ms it holds at
    uint32_t on = 0, off = 0;  // switches
    int8_t windowMesh = kKeep;
    int8_t windowElement = kKeep;
    int8_t chessboardFrame = kKeep;
    int8_t camera = kKeep;
    int8_t halftoneMesh = kKeep;
};

constexpr Key kKeys[] = {
    {.fromMs = 0, .on = kTitleCard | kFaceLayer3},
    {.fromMs = kCardFadesMs, .off = kFaceLayer3},
    {.fromMs = kRadialMs, .on = kRadialOverlay, .off = kTitleCard},

    {.fromMs = kWindowMs, .on = kWindowScene},
    {.fromMs = past(kWindowMeshMs[0]), .on = kWindowScene, .windowMesh = 2},
    {.fromMs = past(kWindowMeshMs[1]), .on = kWindowScene, .windowMesh = 3},
    {.fromMs = past(kWindowMeshMs[2]), .on = kWindowScene, .windowMesh = 1},
    {.fromMs = past(kWindowMeshMs[3]), .on = kWindowScene, .windowMesh = 2},

    {.fromMs = kChessboardMs, .on = kChessboardOverlay},
    {.fromMs = past(kChessboardFramesMs[0]), .on = kChessboardOverlay, .chessboardFrame = 3},
    {.fromMs = past(kChessboardFramesMs[1]), .on = kChessboardOverlay, .chessboardFrame = 2},
    {.fromMs = past(kChessboardFramesMs[2]), .on = kChessboardOverlay, .chessboardFrame = 1},
    {.fromMs = past(kChessboardFramesMs[3]), .on = kChessboardOverlay, .chessboardFrame = 0},

    {.fromMs = kDisplacedMs, .on = kWindowScene | kDisplacedScene | kBarsHorizontal,
     .off = kRadialOverlay | kChessboardOverlay | kWindowShowsMesh, .windowElement = 1},
    {.fromMs = kPulseMs, .on = kWindowPulse, .off = kBarsHorizontal, .windowMesh = 3},
    {.fromMs = past(kPulseStopsMs), .off = kBarsHorizontal | kWindowPulse, .windowMesh = 3},

    {.fromMs = kVolumeMs, .on = kVolumeScene, .off = kSceneBlock},
    {.fromMs = kBrushWanderMs, .on = kVolumeScene | kBrushWander | kBrushCamera, .off = kBrushCircle},
    {.fromMs = past(kBrushEyeOffMs), .on = kVolumeScene | kBrushWander, .off = kBrushCircle | kBrushCamera},
    {.fromMs = kBrushCircleMs, .on = kVolumeScene | kBrushCircle, .off = kBrushCamera, .camera = 3},
    {.fromMs = past(kBrushEyeOnMs), .on = kVolumeScene | kBrushCircle | kBrushCamera, .camera = 3},
    {.fromMs = past(kCircleDoneMs), .on = kVolumeScene | kBrushCamera, .off = kBrushCircle, .camera = 3},
    {.fromMs = kVolumeEyesMs, .on = kBrushCamera, .off = kBrushCircle},
    {.fromMs = past(kVolumeEyeMs[0]), .off = kBrushCircle | kBrushCamera, .camera = 4},
    {.fromMs = past(kVolumeEyeMs[1]), .off = kBrushCircle | kBrushCamera, .camera = 5},
    {.fromMs = past(kVolumeEyeMs[2]), .off = kBrushCircle | kBrushCamera, .camera = 3},

    {.fromMs = kBreakMs, .off = kSceneBlock},
    {.fromMs = past(kReturnMs), .on = kVolumeScene | kBrushCamera, .off = kSceneBlock | kBrushWander},
    {.fromMs = kWanderAgainMs, .on = kBrushWander},
    {.fromMs = kSeedingMs},
    {.fromMs = past(kWanderResumesMs), .on = kBrushWander},
    {.fromMs = kReseedingMs, .on = kBrushWander | kBrushCamera},
    {.fromMs = kCircleAgainMs, .on = kBrushCircle, .off = kBrushCamera},
    {.fromMs = kVolumeTourMs, .camera = 3},
    {.fromMs = past(kVolumeTourEyeMs[0]), .camera = 4},
    {.fromMs = past(kVolumeTourEyeMs[1]), .camera = 2},
    {.fromMs = past(kWanderStopsMs), .off = kBrushWander, .camera = 2},
    {.fromMs = kVolumeHeldMs},

    {.fromMs = kHalftoneMs, .on = kHalftoneScene | kFaceOverlay, .off = kSceneBlock, .camera = 4, .halftoneMesh = 1},
    {.fromMs = kHalftoneMeshMs, .camera = 4, .halftoneMesh = 0},
    {.fromMs = kHalftoneTourMs, .camera = 2, .halftoneMesh = 0},
    {.fromMs = past(kHalftoneSwapMs[0]), .camera = 1, .halftoneMesh = 1},
    {.fromMs = past(kHalftoneSwapMs[1]), .camera = 3, .halftoneMesh = 0},
    {.fromMs = past(kHalftoneSwapMs[2]), .camera = 2, .halftoneMesh = 1},
    {.fromMs = kHalftoneEye5Ms, .camera = 5, .halftoneMesh = 1},
    {.fromMs = kHalftoneEye4Ms, .camera = 4, .halftoneMesh = 0},
    {.fromMs = kHalftoneHeldMs},
    {.fromMs = kLightRideMs, .on = kCameraFollowsLight | kFaceLayer3},
    {.fromMs = kLightRideEndsMs},

    {.fromMs = kFloorMs, .on = kFloorScene | kFaceLayer3, .off = kSceneBlock},
    {.fromMs = kFloorHeldMs},
    {.fromMs = kClosingMs},
    {.fromMs = past(kClosingCardMs), .on = kTitleCard, .off = kTitleCardFirst},
};
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

}  // namespace schedule
