// timeline.cpp -- the schedule of scenes, overlays and their cues.
//
// Each call finds the one row whose upper bound lies above t and runs only
// that row's actions. Nothing records which rows have run: flags and cues
// simply keep what the last row set. Rows that ramp a value step it by the
// frame's clock delta, so a ramp takes the same music time at any frame rate.
#include "shell/timeline.h"

#include "shell/demo_state.h"
#include "shell/frame.h"

float volumeGrid[kVolumeCells];

// The block of seven flags that a scene change switches off in one step.
void clearSceneFlags() {
    sceneFlags.titleCardOn = false;
    sceneFlags.radialOverlayOn = false;
    sceneFlags.displacedSceneOn = false;
    sceneFlags.windowSceneOn = false;
    sceneFlags.halftoneSceneOn = false;
    sceneFlags.volumeSceneOn = false;
    sceneFlags.floorSceneOn = false;
}

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

// The schedule. Inner conditions are strict comparisons on the same t; where
// a row sets a value several times, the last setting that applies wins.
void applyTimeline(int32_t t) {
    if (t < 16000) {  // opening card fades in (about 10 s to full)
        sceneFlags.titleCardOn = true;
        cues.faceLayer3On = true;
        if (cues.titleFadeLevel < 1.0f) cues.titleFadeLevel += frameDeltaMs * 0.0001f;
    } else if (t < 18000) {  // and out (about 2 s)
        cues.faceLayer3On = false;
        if (cues.titleFadeLevel > 0.0f) cues.titleFadeLevel -= frameDeltaMs * 0.0005f;
    } else if (t < 25700) {
        sceneFlags.titleCardOn = false;
        cues.titleFadeLevel = 0.0f;
        sceneFlags.radialOverlayOn = true;
    } else if (t < 34800) {
        sceneFlags.windowSceneOn = true;
        if (t > 26200) cues.windowMeshIndex = 2;
        if (t > 28800) cues.windowMeshIndex = 3;
        if (t > 31000) cues.windowMeshIndex = 1;
        if (t > 32000) cues.windowMeshIndex = 2;
    } else if (t < 37500) {
        sceneFlags.chessboardOverlayOn = true;
        if (t > 35000) cues.chessboardFrame = 3;
        if (t > 35500) cues.chessboardFrame = 2;
        if (t > 36100) cues.chessboardFrame = 1;
        if (t > 36300) cues.chessboardFrame = 0;
    } else if (t < 45800) {
        sceneFlags.radialOverlayOn = false;
        sceneFlags.chessboardOverlayOn = false;
        cues.windowShowsMesh = false;
        sceneFlags.windowSceneOn = true;
        sceneFlags.displacedSceneOn = true;
        cues.windowElementIndex = 1;
        cues.barsHorizontal = true;
    } else if (t < 54800) {
        cues.windowMeshIndex = 3;
        cues.barsHorizontal = false;
        cues.windowPulseOn = true;
        if (t > 47000) cues.windowPulseOn = false;
    } else if (t < 66500) {
        clearSceneFlags();
        sceneFlags.volumeSceneOn = true;
    } else if (t < 73000) {
        sceneFlags.volumeSceneOn = true;
        cues.brushWanderOn = true;
        cues.brushCircleOn = false;
        cues.brushCamera = true;
        if (t > 69000) cues.brushCamera = false;
    } else if (t < 81800) {
        sceneFlags.volumeSceneOn = true;
        cues.cameraIndex = 3;
        cues.brushCircleOn = true;
        cues.brushCamera = false;
        if (t > 75000) cues.brushCamera = true;
        if (t > 76000) cues.brushCircleOn = false;
    } else if (t < 86800) {
        cues.brushCircleOn = false;
        cues.brushCamera = true;
        if (t > 82700) {
            cues.brushCamera = false;
            cues.cameraIndex = 4;
        }
        if (t > 83000) cues.cameraIndex = 5;
        if (t > 84600) cues.cameraIndex = 3;
    } else if (t < 90000) {  // the break: nothing but the always-on passes
        clearSceneFlags();
        if (t > 89000) {
            cues.brushWanderOn = false;
            sceneFlags.volumeSceneOn = true;
            cues.brushCamera = true;
        }
    } else if (t < 91000) {
        cues.brushWanderOn = true;
    } else if (t < 116300) {
        if (t < 97000) seedVolume();
        if (t > 95000) cues.brushWanderOn = true;
    } else if (t < 119300) {
        if (t < 118000) seedVolume();
        cues.brushWanderOn = true;
        cues.brushCamera = true;
    } else if (t < 120200) {
        cues.brushCamera = false;
        cues.brushCircleOn = true;
    } else if (t < 136000) {
        cues.cameraIndex = 3;
        if (t > 125000) cues.cameraIndex = 4;
        if (t > 130000) cues.cameraIndex = 2;
        if (t > 131000) {
            cues.brushWanderOn = false;
            seedVolume();
        }
    } else if (t < 137000) {
        // nothing
    } else if (t < 140200) {
        clearSceneFlags();
        sceneFlags.halftoneSceneOn = true;
        sceneFlags.faceOverlayOn = true;
        cues.cameraIndex = 4;
        cues.halftoneMeshIndex = 1;
    } else if (t < 144800) {
        cues.cameraIndex = 4;
        cues.halftoneMeshIndex = 0;
    } else if (t < 165000) {
        cues.cameraIndex = 2;
        cues.halftoneMeshIndex = 0;
        if (t > 152800) {
            cues.cameraIndex = 1;
            cues.halftoneMeshIndex = 1;
        }
        if (t > 156800) {
            cues.cameraIndex = 3;
            cues.halftoneMeshIndex = 0;
        }
        if (t > 160800) {
            cues.cameraIndex = 2;
            cues.halftoneMeshIndex = 1;
        }
    } else if (t < 171000) {
        cues.cameraIndex = 5;
        cues.halftoneMeshIndex = 1;
    } else if (t < 186300) {
        cues.cameraIndex = 4;
        cues.halftoneMeshIndex = 0;
    } else if (t < 187200) {
        // nothing
    } else if (t < 187400) {  // one short row: a slow frame can skip it
        cues.cameraFollowsLight = true;
        cues.faceLayer3On = true;
    } else if (t < 209200) {
        // nothing
    } else if (t < 221000) {
        clearSceneFlags();
        sceneFlags.floorSceneOn = true;
        cues.faceLayer3On = true;
    } else if (t < 245000) {
        // nothing
    } else if (t < 260000) {  // the bars close past the middle; closing card
        cues.letterboxEdge -= frameDeltaMs * 0.0001f;
        if (t > 250000) {
            sceneFlags.titleCardOn = true;
            cues.titleCardFirst = false;
            if (cues.titleFadeLevel < 1.0f) cues.titleFadeLevel += frameDeltaMs * 0.0001f;
        }
    } else {
        shutdownAndExit();
    }
}
