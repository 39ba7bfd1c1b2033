// volume_scene.cpp -- the cube volume scene: a lattice of textured cubes grown by a brush.
#include "scenes/volume_scene.h"

#include <algorithm>
#include <cmath>

#include "render/gl_state.h"
#include "render/mesh.h"
#include "state/demo_state.h"

GLuint volumeCubeTexture = 0;
float brushPoint[3] = {0.0f, 0.0f, 0.0f};
float brushAngle = 0.0f;
float volumeTilt = 0.0f;

constexpr float kBrushRadius = 3.0f;

// Cells grow only within kBrushRadius of the brush, so the growth pass looks
// at the box of cells around it rather than all 27,000; each cell's rule
// depends only on its own value, so the order makes no difference.
static void growNearBrush() {
    int lo[3], hi[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = std::max(0, int(std::floor(brushPoint[a] - kBrushRadius)) + kVolumeSide / 2);
        hi[a] = std::min(kVolumeSide - 1, int(std::ceil(brushPoint[a] + kBrushRadius)) + kVolumeSide / 2);
    }
    for (int i = lo[0]; i <= hi[0]; ++i) {
        for (int j = lo[1]; j <= hi[1]; ++j) {
            for (int k = lo[2]; k <= hi[2]; ++k) {
                const float dx = float(i - 15) - brushPoint[0];
                const float dy = float(j - 15) - brushPoint[1];
                const float dz = float(k - 15) - brushPoint[2];
                const float d = std::sqrt(dx * dx + dy * dy + dz * dz);
                if (!(d < kBrushRadius)) continue;
                float& v = volumeGrid[(i * kVolumeSide + j) * kVolumeSide + k];
                if (cues.brushCircleOn && v < 0.6f && brushAngle < 354.0f) {
                    v += 0.05f;
                } else {
                    // Never reaches 1: a step that would is refused. At the
                    // brush itself (d = 0) the step is 1000, so it never grows.
                    const float w = v + 1.0f / (2.0f * d + 0.001f);
                    if (w < 1.0f) v = w;
                }
            }
        }
    }
}

// While circling the brush fills a ring by fixed steps and nothing decays;
// otherwise the brush grows cells by the inverse-distance rule and every cell
// shrinks by 0.001 per unit of stepMs, stopping at 0. The circle stops for good
// past 355 degrees until a wandering phase resets the angle.
void updateVolumeScene(float clock, float stepMs) {
    volumeTilt = 20.0f * std::cos(0.7f * clock * kDegToRad);

    if (cues.brushCircleOn && brushAngle < 355.0f) {
        brushAngle = brushAngle + 0.2f * stepMs;
        brushPoint[0] = 10.0f * std::cos(brushAngle * kDegToRad);
        brushPoint[1] = 10.0f * std::sin(brushAngle * kDegToRad);
        brushPoint[2] = 0.0f;
    } else if (cues.brushWanderOn) {
        brushAngle = 0.0f;
        brushPoint[0] = 12.0f * std::cos(0.7f * clock * kDegToRad);
        brushPoint[1] = 12.0f * std::sin(0.7f * clock * kDegToRad);
        brushPoint[2] = 12.0f * std::sin(clock * kDegToRad);
    }

    growNearBrush();

    if (!cues.brushCircleOn) {
        const float step = 0.001f * stepMs;
        for (float& v : volumeGrid) {
            if (v > 0.0f) {
                v -= step;
                if (v < 0.0f) v = 0.0f;
            }
        }
    }
}

// Each cell gets its own matrix: the tilt turns the lattice about the scene
// origin, then the cell is moved into place and scaled to its value. The
// wire pass draws the same cube as lines with the texture still on, blended
// over the lit fill. The light is the brush, in the camera's frame as it
// stands, so it does not turn with the lattice.
void drawVolumeScene() {
    beginSphereMapped(volumeCubeTexture);
    glEnable(GL_LIGHTING);
    glEnable(GL_CULL_FACE);
    glShadeModel(GL_FLAT);
    glEnable(GL_NORMALIZE);  // left on for the scenes after this one (render/gl_state.h)
    glPushMatrix();

    const GLfloat light[] = {brushPoint[0], brushPoint[1], brushPoint[2], 1.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, light);
    glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, 0.00001f);

    for (int i = 0; i < kVolumeSide; ++i) {
        for (int j = 0; j < kVolumeSide; ++j) {
            for (int k = 0; k < kVolumeSide; ++k) {
                const float v = volumeGrid[(i * kVolumeSide + j) * kVolumeSide + k];
                if (v == 0.0f) continue;
                glPushMatrix();
                glRotatef(volumeTilt, 1.0f, 1.0f, 0.0f);
                glTranslatef(float(i - 15), float(j - 15), float(k - 15));
                glScalef(v, v, v);
                glColor3f(1.0f, 1.0f, 1.0f);
                drawMesh(meshA);

                glDisable(GL_LIGHTING);
                glEnable(GL_BLEND);
                glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
                glPolygonMode(GL_FRONT, GL_LINE);
                glLineWidth(2.0f);
                glColor3f(1.0f, 1.0f, 1.0f);
                drawMesh(meshA);

                glLineWidth(1.0f);
                glPolygonMode(GL_FRONT, GL_FILL);
                glEnable(GL_LIGHTING);
                glDisable(GL_BLEND);
                glPopMatrix();
            }
        }
    }

    glEnable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glPopMatrix();
    glShadeModel(GL_SMOOTH);
    glDisable(GL_LIGHTING);
    endSphereMapped();
}
