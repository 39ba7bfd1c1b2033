// marks.h -- the moments the soundtrack is composed to.
//
// The picture changes at fixed music positions; the piece puts an audible
// accent (crash, stab or the last hit of a fill) on each of them, and its
// sections follow the same outline. The analysis tool and the tests read the
// same tables, so what is checked is what was composed.
#pragma once

#include <array>
#include <cstdint>

#include "state/schedule.h"

namespace soundtrack {

// 150 beats per minute: a sixteenth note is exactly 100 ms (4410 frames), so
// every mark of the picture lands on the sixteenth grid, most on eighths.
constexpr int kSampleRate = 44100;
constexpr int kBeatMs = 400;
constexpr int kSixteenthMs = kBeatMs / 4;
constexpr int kBarMs = 4 * kBeatMs;

// The beat grid restarts once, in the silent break: before it bars begin at
// 400 + 1600 n ms, after it at 89000 + 1600 n ms.
constexpr int kFirstBarMs = 400;
constexpr int kSecondHalfMs = schedule::kReturnMs;

// The demo's schedule names the moments; the composer reads them by name.
using namespace ::schedule;

// Positions (ms) of the accents, in order.
constexpr int32_t kMarksMs[] = {
    kRadialMs,                      // drums come in under the radial overlay
    kWindowMs,                      // first full section
    kChessboardFramesMs[0], kChessboardFramesMs[1],  // the four chessboard frames
    kChessboardFramesMs[2], kChessboardFramesMs[3],
    kDisplacedMs,                   // second section
    kPulseMs, kPulseStopsMs,        // riser start and its landing
    kVolumeMs,                      // cube volume section
    kBreakMs,                       // the break
    kReturnMs, kSeedingMs,          // the return, then the full drums
    kHalftoneMs, kHalftoneMeshMs, kHalftoneTourMs, kHalftoneSwapMs[0], kHalftoneSwapMs[1], kHalftoneSwapMs[2],
    kHalftoneEye5Ms, kHalftoneEye4Ms, kLightRideMs,
    kFloorMs,                       // floor section
    kClosingMs,                     // closing, as the bars close
    kClosingCardMs,                 // end card
};
constexpr int kMarkCount = sizeof(kMarksMs) / sizeof(kMarksMs[0]);

// The schedule's moments under the names the arrangement is built around
// (ms); each is also one of the marks above, except where noted. The cube
// volume, the break, the return, the halftone scene and its other mesh, the
// floor and the closing keep the schedule's own names.
constexpr int32_t kDrumsInMs = kRadialMs;
constexpr int32_t kFirstSectionMs = kWindowMs;
constexpr int32_t kChessInMs = kChessboardMs;  // not a mark: the chessboard's stretch begins
inline constexpr const int32_t (&kChessMs)[4] = kChessboardFramesMs;
constexpr int32_t kSecondSectionMs = kDisplacedMs;
constexpr int32_t kRiserMs = kPulseMs;
constexpr int32_t kLandingMs = kPulseStopsMs;
constexpr int32_t kFullDrumsMs = kSeedingMs;
constexpr int32_t kHalftoneCameraMs = kHalftoneTourMs;
constexpr int32_t kHalftoneChangeMs = kHalftoneSwapMs[0];
constexpr int32_t kHalftoneTurnMs[2] = {kHalftoneSwapMs[1], kHalftoneSwapMs[2]};
constexpr int32_t kHalftoneSecondMs = kHalftoneEye5Ms;
constexpr int32_t kHalftoneWideMs = kHalftoneEye4Ms;
constexpr int32_t kFollowLightMs = kLightRideMs;
constexpr int32_t kEndCardMs = kClosingCardMs;
constexpr int32_t kPictureEndMs = kEndMs;  // not a mark: the demo stops here

// The arrangement's own turns, measured from those moments: the pre-drop
// before the cube volume (two bars without kick and bass), and the halftone
// breakdown (nine bars without kick, bass and clap), its one-bar build, and
// the drop on the downbeat an eighth after the halftone change.
constexpr int32_t kPreDropMs = kVolumeMs - 2 * kBarMs;
constexpr int32_t kBreakdownEndMs = kHalftoneMs + 9 * kBarMs;
constexpr int32_t kHalftoneDropMs = kHalftoneChangeMs + 2 * kSixteenthMs;

// The piece is this long; the picture ends at kEndMs (260000 ms).
constexpr int32_t kLengthMs = 263000;

// One stretch of the arrangement: one of the schedule's sections, the last
// running on to the end of the piece. Where drums play, a hat, clap or snare
// falls on every eighth note from gridMs on (gridMs + 200 k), which is what
// the level analysis treats as hits; the sixteenths between are quiet.
struct Section {
    const char* name;
    int32_t startMs;
    int32_t endMs;
    bool drums;
    int32_t gridMs;  // an eighth-note position of the section's grid
};

// What each of the schedule's sections is given, in order.
struct Arrangement {
    bool drums;
    int32_t gridMs;
};
constexpr Arrangement kArrangement[] = {
    {false, 0},                    // intro
    {true, kRadialMs},             // build
    {true, 26000},                 // first: on the bar after the mark
    {true, kChessboardMs},         // chess
    {true, 37600},                 // second
    {false, kPulseMs},             // riser
    {true, kPulseStopsMs},         // landing
    {true, kVolumeMs},             // volume
    {false, kBreakMs},             // break
    {true, kReturnMs},             // return
    {true, kSeedingMs},            // volume2
    {true, kHalftoneMs},           // halftone
    {true, kHalftoneEye5Ms},       // halftone2
    {true, kFloorMs},              // floor
    {true, kClosingMs},            // closing
    {false, kClosingCardMs},       // endcard
};
constexpr int kSectionCount = int(schedule::kSectionCount);
static_assert(sizeof kArrangement / sizeof kArrangement[0] == schedule::kSectionCount,
              "one arrangement for each of the schedule's sections");

constexpr std::array<Section, kSectionCount> kSections = [] {
    std::array<Section, kSectionCount> out{};
    for (int i = 0; i < kSectionCount; ++i) {
        const schedule::Section& s = schedule::kSections[i];
        out[i] = {s.name, s.startMs, i + 1 < kSectionCount ? schedule::sectionEndMs(i) : kLengthMs,
                  kArrangement[i].drums, kArrangement[i].gridMs};
    }
    return out;
}();

}  // namespace soundtrack
