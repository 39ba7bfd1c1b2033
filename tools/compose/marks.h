// marks.h -- the moments the soundtrack is composed to.
//
// The picture changes at fixed music positions; the piece puts an audible
// accent (crash, stab or the last hit of a fill) on each of them, and its
// sections follow the same outline. The analysis tool and the tests read the
// same tables, so what is checked is what was composed.
#pragma once

#include <cstdint>

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
constexpr int kSecondHalfMs = 89000;

// Positions (ms) of the accents, in order.
constexpr int32_t kMarksMs[] = {
    18000,                          // drums come in under the radial overlay
    25700,                          // first full section
    35000, 35500, 36100, 36300,     // the four chessboard frames
    37500,                          // second section
    45800, 47000,                   // riser start and its landing
    54800,                          // cube volume section
    86800,                          // the break
    89000, 91000,                   // the return, then the full drums
    137000, 140200, 144800, 152800, 156800, 160800, 165000, 171000, 187200,
    209200,                         // floor section
    245000,                         // closing, as the bars close
    250000,                         // end card
};
constexpr int kMarkCount = sizeof(kMarksMs) / sizeof(kMarksMs[0]);

// Named moments of the picture that the arrangement is built around (ms);
// each is also one of the marks above, except where noted.
constexpr int32_t kDrumsInMs = 18000;
constexpr int32_t kFirstSectionMs = 25700;
constexpr int32_t kChessInMs = 34800;  // not a mark: the chessboard's stretch begins
constexpr int32_t kChessMs[4] = {35000, 35500, 36100, 36300};
constexpr int32_t kSecondSectionMs = 37500;
constexpr int32_t kRiserMs = 45800;
constexpr int32_t kLandingMs = 47000;
constexpr int32_t kVolumeMs = 54800;
constexpr int32_t kBreakMs = 86800;
constexpr int32_t kReturnMs = 89000;
constexpr int32_t kFullDrumsMs = 91000;
constexpr int32_t kHalftoneMs = 137000;
constexpr int32_t kHalftoneMeshMs = 140200;
constexpr int32_t kHalftoneCameraMs = 144800;
constexpr int32_t kHalftoneChangeMs = 152800;
constexpr int32_t kHalftoneTurnMs[2] = {156800, 160800};
constexpr int32_t kHalftoneSecondMs = 165000;
constexpr int32_t kHalftoneWideMs = 171000;
constexpr int32_t kFollowLightMs = 187200;
constexpr int32_t kFloorMs = 209200;
constexpr int32_t kClosingMs = 245000;
constexpr int32_t kEndCardMs = 250000;
constexpr int32_t kPictureEndMs = 260000;  // not a mark: the demo stops here

// The arrangement's own turns, measured from those moments: the pre-drop
// before the cube volume (two bars without kick and bass), and the halftone
// breakdown (nine bars without kick, bass and clap), its one-bar build, and
// the drop on the downbeat an eighth after the halftone change.
constexpr int32_t kPreDropMs = kVolumeMs - 2 * kBarMs;
constexpr int32_t kBreakdownEndMs = kHalftoneMs + 9 * kBarMs;
constexpr int32_t kHalftoneDropMs = kHalftoneChangeMs + 2 * kSixteenthMs;

// The piece is this long; the picture ends at 260000 ms.
constexpr int kLengthMs = 263000;

// One stretch of the arrangement. Where drums play, a hat, clap or snare
// falls on every eighth note from gridMs on (gridMs + 200 k), which is what
// the level analysis treats as hits; the sixteenths between are quiet.
struct Section {
    const char* name;
    int32_t startMs;
    int32_t endMs;
    bool drums;
    int32_t gridMs;  // an eighth-note position of the section's grid
};

constexpr Section kSections[] = {
    {"intro", 0, 18000, false, 0},
    {"build", 18000, 25700, true, 18000},
    {"first", 25700, 34800, true, 26000},
    {"chess", 34800, 37500, true, 34800},
    {"second", 37500, 45800, true, 37600},
    {"riser", 45800, 47000, false, 45800},
    {"landing", 47000, 54800, true, 47000},
    {"volume", 54800, 86800, true, 54800},
    {"break", 86800, 89000, false, 86800},
    {"return", 89000, 91000, true, 89000},
    {"volume2", 91000, 137000, true, 91000},
    {"halftone", 137000, 165000, true, 137000},
    {"halftone2", 165000, 209200, true, 165000},
    {"floor", 209200, 245000, true, 209200},
    {"closing", 245000, 250000, true, 245000},
    {"endcard", 250000, 263000, false, 250000},
};
constexpr int kSectionCount = sizeof(kSections) / sizeof(kSections[0]);

}  // namespace soundtrack
