// startup.cpp -- runStartup, the one-time set-up between window and frames.
#include "shell/startup.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "audio/music.h"
#include "overlays/chessboard_overlay.h"
#include "overlays/face_overlay.h"
#include "overlays/radial_overlay.h"
#include "overlays/title_card.h"
#include "render/mesh.h"
#include "render/texture.h"
#include "scenes/bars.h"
#include "scenes/displaced_scene.h"
#include "scenes/floor_scene.h"
#include "scenes/square_grid.h"
#include "scenes/volume_scene.h"
#include "scenes/window_scene.h"
#include "state/demo_state.h"
#include "shell/timeline.h"
#include "render/picture_layout.h"

// Starts the music, or ends the program if it cannot: without the music the
// clock never moves and the first frame would repeat forever.
static void startMusic() {
    musicInit(kMusicRate);
    musicStream = musicOpen(kMusicPath);
    if (!musicStream) std::exit(1);  // musicOpen has said why
    musicSetTime(musicStream, 0);
    musicPlay(musicStream);
    musicEnableSpectrum();
    spectrum = musicSpectrum();
}

// The GL state every scene relies on unless it changes it: the first steps
// of start-up, also used by the tests to start each draw from a known state.
void setStartupGlState() {
    glPointSize(4);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glEnable(GL_LINE_SMOOTH);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);

    // Aspect 1 on the 4:3 picture: perspective scenes are stretched wide.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(120, 1.0, 0.01, 200);
    applyPictureViewport();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    // Light 0: a white point light at the eye, fading with distance.
    const GLfloat origin[] = {0, 0, 0, 1};
    const GLfloat white[] = {1, 1, 1, 1};
    glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, 0.1f);
    glLightfv(GL_LIGHT0, GL_POSITION, origin);
    glLightfv(GL_LIGHT0, GL_AMBIENT, white);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT0, GL_SPECULAR, white);
    glEnable(GL_LIGHT0);

    // Mask 0: the test passes everywhere until a scene sets its own function.
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_EQUAL, 1, 0);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
}

// The fixed order matters: the random draws of the effect set-ups follow
// each other on the one shared generator, and the music starts before the
// last fourteen texture loads, so those loads already run on its clock.
void runStartup() {
    setStartupGlState();
    refreshHalftonePatterns();
    initSquareGrid();
    initBars();

    loadTexture("textures/radial3.jpg", &radialTexture);
    loadTexture("textures/ecli2_g.jpg", &radialTexture2);

    std::fill(std::begin(volumeGrid), std::end(volumeGrid), 0.0f);

    fixUpAllMeshes();  // B, C, D, E, F, G, H, I, A, J

    startMusic();

    glTexGenf(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glTexGenf(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);

    loadTexture("textures/oruvaface.jpg", &faceTexture);
    loadTexture("textures/oruvaface_anti.jpg", &faceAntiTexture);
    loadTexture("textures/viso.jpg", &visoTexture);
    loadTexture("textures/intro.jpg", &introTexture);
    loadTexture("textures/who.jpg", &whoTexture);

    loadTexture("textures/ecli2_r.jpg", &windowSceneTexture);
    loadTexture("textures/veloppo3.jpg", &displacedSceneTexture);
    loadTexture("textures/veloppo.jpg", &volumeCubeTexture);
    loadTexture("textures/ecli2_b.jpg", &floorPairTexture);
    loadTexture("textures/viso.jpg", &floorMaskMeshTexture);  // a second, separate texture

    loadTextureNearest("textures/scacchi.jpg", &chessboardTextures[0]);
    loadTextureNearest("textures/scacchi2.jpg", &chessboardTextures[1]);
    loadTextureNearest("textures/scacchi3.jpg", &chessboardTextures[2]);
    loadTextureNearest("textures/scacchi4.jpg", &chessboardTextures[3]);
}
