// timeline.cpp -- the schedule of scenes, overlays and their cues.
//
// What is on and which mesh, frame or eye a scene uses is read from the
// schedule's keys (state/schedule.h): the key in force at t writes its
// values, and everything it does not name keeps what an earlier key left.
// Nothing records which keys have run, so a frame that lands past a short
// stretch simply never sees it. What moves from frame to frame (the title
// card's fades, the letterbox, the seeding of the cube volume) is stepped
// here by the frame's clock delta, so it takes the same music time at any
// frame rate.
#include "shell/timeline.h"

#include <algorithm>
#include <bit>
#include <iterator>

#include "state/demo_state.h"
#include "shell/frame.h"
#include "state/schedule.h"

using namespace schedule;

namespace {

// The flag each of the schedule's switches writes, in the order of its bits.
bool* const switchFlags[kSwitchCount] = {
    &sceneFlags.titleCardOn,    &sceneFlags.radialOverlayOn,     &sceneFlags.displacedSceneOn,
    &sceneFlags.windowSceneOn,  &sceneFlags.halftoneSceneOn,     &sceneFlags.volumeSceneOn,
    &sceneFlags.floorSceneOn,   &sceneFlags.chessboardOverlayOn, &sceneFlags.faceOverlayOn,
    &cues.faceLayer3On,         &cues.windowShowsMesh,           &cues.barsHorizontal,
    &cues.windowPulseOn,        &cues.brushWanderOn,             &cues.brushCircleOn,
    &cues.brushCamera,          &cues.cameraFollowsLight,        &cues.titleCardFirst,
};

// The last key at or before t; before the first key, the first.
const Key& keyAt(int32_t t) {
    const Key* next = std::upper_bound(std::begin(kKeys), std::end(kKeys), t,
                                       [](int32_t ms, const Key& key) { return ms < key.fromMs; });
    return next == std::begin(kKeys) ? kKeys[0] : next[-1];
}

void setIfGiven(int32_t& cue, int8_t value) {
    if (value != kKeep) cue = value;
}

void applyKey(const Key& key) {
    for (int bit = 0; bit < kSwitchCount; ++bit) {
        if (key.off & (1u << bit)) *switchFlags[bit] = false;
        if (key.on & (1u << bit)) *switchFlags[bit] = true;
    }
    setIfGiven(cues.windowMeshIndex, key.windowMesh);
    setIfGiven(cues.windowElementIndex, key.windowElement);
    setIfGiven(cues.chessboardFrame, key.chessboardFrame);
    setIfGiven(cues.cameraIndex, key.camera);
    setIfGiven(cues.halftoneMeshIndex, key.halftoneMesh);
}

// The title card's fade in, about 10 s to full. Like the fade out, it
// stops at the first step past its limit, unclamped.
void fadeTitleIn() {
    if (cues.titleFadeLevel < 1.0f) cues.titleFadeLevel += frameDeltaMs * 0.0001f;
}

// Fresh cells are seeded on every frame of three stretches of the cube
// volume, the last one from the moment the brush stops.
bool seedsAt(int32_t t) {
    return (t >= kSeedingMs && t < kSeedingEndsMs) || (t >= kReseedingMs && t < kReseedingEndsMs) ||
           (t >= past(kWanderStopsMs) && t < kVolumeHeldMs);
}

}  // namespace

bool& switchFlag(Switch s) { return *switchFlags[std::countr_zero(uint32_t(s))]; }

// Scatters 20 half-filled cells for the brush to grow from. The three draws
// per cell come in the order x, y, z from the shared generator.
void seedVolume() {
    for (int i = 0; i < 20; ++i) {
        int x = nextRandom() % kVolumeSide;
        int y = nextRandom() % kVolumeSide;
        int z = nextRandom() % kVolumeSide;
        volumeGrid[(x * kVolumeSide + y) * kVolumeSide + z] = 0.5f;
    }
}

void applyTimeline(int32_t t) {
    if (t >= kEndMs) {
        shutdownAndExit();
        return;
    }
    applyKey(keyAt(t));

    // The opening card fades in and out (about 2 s); the closing card fades
    // in while the bars close past the middle.
    if (t < kCardFadesMs) {
        fadeTitleIn();
    } else if (t < kRadialMs) {
        if (cues.titleFadeLevel > 0.0f) cues.titleFadeLevel -= frameDeltaMs * 0.0005f;
    } else if (t < kWindowMs) {
        cues.titleFadeLevel = 0.0f;
    } else if (t >= kClosingMs) {
        cues.letterboxEdge -= frameDeltaMs * 0.0001f;
        if (t > kClosingCardMs) fadeTitleIn();
    }

    if (seedsAt(t)) seedVolume();
}
