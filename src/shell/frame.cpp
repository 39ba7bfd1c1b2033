// frame.cpp -- runFrame, updateFrame and the two ways out.
//
// drawFrame reads top to bottom as the frame's schedule: clear, the scenes
// and overlays whose flags are on, the always-on passes, the title card;
// runFrame then presents and updates. Every scene's camera is applied
// inside its own push and pop, so it never reaches the steps after it.
#include "shell/frame.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "audio/music.h"
#include "overlays/chessboard_overlay.h"
#include "overlays/face_overlay.h"
#include "overlays/letterbox.h"
#include "overlays/radial_overlay.h"
#include "overlays/title_card.h"
#include "render/camera.h"
#include "render/mesh.h"
#include "scenes/bars.h"
#include "scenes/displaced_scene.h"
#include "scenes/floor_scene.h"
#include "scenes/halftone_scene.h"
#include "scenes/square_grid.h"
#include "scenes/volume_scene.h"
#include "scenes/window_scene.h"
#include "state/demo_state.h"
#include "shell/timeline.h"
#include "shell/window.h"

// The eye of the current camera index in a scene's table of eyes.
static void lookAtEyeTableEntry(const float (&table)[6][3]) {
    const float* eye = table[cues.cameraIndex];
    lookAtOrigin(eye[0], eye[1], eye[2]);
}

// Draws one frame with the flags and bands of the previous update. The first
// frame comes before any update: everything is off and only the always-on
// passes draw.
static void drawFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glLoadIdentity();

    if (sceneFlags.faceOverlayOn) {
        drawFaceOverlay(bands.band250 * 10, bands.band100 * 40, bands.band150, false);
    }
    if (sceneFlags.radialOverlayOn) {
        drawRadialOverlay();
    }
    if (sceneFlags.displacedSceneOn) {
        drawDisplacedMeshScene(bands.band150 * 100000 + musicTimeMs);
        // Later scenes must never be hidden behind the displaced mesh.
        glClear(GL_DEPTH_BUFFER_BIT);
    }
    if (sceneFlags.windowSceneOn) {
        glPushMatrix();
        lookAtOrigin(0, 0, 20);
        drawWindowScene();
        glPopMatrix();
    }
    if (sceneFlags.halftoneSceneOn) {
        glPushMatrix();
        if (cues.cameraFollowsLight)
            lookAtOrigin(halftoneLightPos[0] * 1.2f, halftoneLightPos[1] * 1.2f, halftoneLightPos[2] * 1.2f);
        else
            lookAtEyeTableEntry(halftoneEyeTable);
        drawHalftoneMeshScene();
        glPopMatrix();
    }
    if (sceneFlags.volumeSceneOn) {
        glPushMatrix();
        if (cues.brushCamera)
            lookFromOrigin(brushPoint[0], brushPoint[1], brushPoint[2]);
        else
            lookAtEyeTableEntry(volumeEyeTable);
        drawVolumeScene();
        glPopMatrix();
    }
    if (sceneFlags.floorSceneOn) {
        glPushMatrix();
        lookAtEyeTableEntry(floorEyeTable);
        drawFloorScene();
        glPopMatrix();
    }
    if (sceneFlags.chessboardOverlayOn) {
        drawChessboardOverlay();
    }
    drawFaceOverlay(bands.band250 * 40, bands.band100 * 70, bands.band150 * 10, cues.faceLayer3On);
    drawLetterbox();
    if (sceneFlags.titleCardOn) {
        glPushMatrix();
        glTranslatef(0, 0, -1);
        drawTitleCard();
        glPopMatrix();
    }
}

void runFrame() {
    drawFrame();
    presentFrame();
    updateFrame();
}

// Clock first, then the effects in their fixed order with arguments built
// from the clock and the bands, then the title, the schedule, and last the
// bands that the next frame draws with.
void updateFrame() {
    prevMusicTimeMs = musicTimeMs;
    musicTimeMs = float(musicGetTime(musicStream));
    frameDeltaMs = musicTimeMs - prevMusicTimeMs;

    updateSquareGrid();
    gridSquareHalfSize = bands.band150 * 10;
    updateBars(bands.band250 * 100000 + frameDeltaMs);
    updateWindowScene(frameDeltaMs + bands.band250 * 100000);

    if (sceneFlags.halftoneSceneOn) {
        refreshHalftonePatterns();
        float a = musicTimeMs * 0.05f + bands.band150 * 2000;  // degrees
        halftoneLightPos[0] = 30 * std::cos(a * kDegToRad);
        halftoneLightPos[1] = 30 * std::sin(2 * a * kDegToRad);
        halftoneLightPos[2] = 30 * std::sin((3 * a + 10) * kDegToRad);
        // Both meshes the scene can show, whichever it shows now.
        computeShadeLevels(halftoneLightPos[0], halftoneLightPos[1], halftoneLightPos[2], meshG.normals,
                           meshGShadeLevels, kMeshGVertexCount);
        computeShadeLevels(halftoneLightPos[0], halftoneLightPos[1], halftoneLightPos[2], meshH.normals,
                           meshHShadeLevels, kMeshHVertexCount);
        // Three sways of 0.02, 0.03 and 0.04 degrees per millisecond.
        double m = bands.band100 * 1000 + musicTimeMs;
        halftoneWobble[0] = float(0.2 * std::cos(m * (0.02 * kDegToRadDouble)));
        halftoneWobble[1] = float(0.2 * std::sin(m * (0.03 * kDegToRadDouble)));
        halftoneWobble[2] = float(0.2 * std::cos(m * (0.04 * kDegToRadDouble)));
    }
    if (sceneFlags.floorSceneOn) floorSpinPhase = bands.band100 * 20000 + musicTimeMs;
    if (sceneFlags.volumeSceneOn) {
        updateVolumeScene(musicTimeMs * 0.1f + bands.band250 * 10000, bands.band100 * 100 + frameDeltaMs);
    }
    // From the first frame on, so the mesh is fully inflated whenever it shows.
    updateDisplacement(meshIDisplacement, meshI.vertices, kMeshIVertexCount, 20000, 20000, 20000);

    // A second reading of the clock: it may run a few ms ahead of musicTimeMs.
    std::snprintf(titleText, sizeof titleText, "%d", musicGetTime(musicStream));
    setWindowTitle(titleText);

    applyTimeline(int32_t(musicTimeMs));

    spectrum = musicSpectrum();
    bands.band250 = spectrum[250];
    bands.band100 = spectrum[100];
    bands.band150 = spectrum[150];
}

void onKey(unsigned char key, int, int) {
    if (key == 27) shutdownAndExit();
}

// The one way out, from Escape, a closed window, the end of the schedule
// (status 0) or a signal (128 + its number, as a shell reports it).
void shutdownAndExit(int status) {
    musicClose(musicStream);
    musicStream = nullptr;
    musicShutdown();
    setCursorVisible(true);
    std::exit(status);
}
