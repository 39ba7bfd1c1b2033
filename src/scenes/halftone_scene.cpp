// halftone_scene.cpp -- the halftone mesh scene: silhouette, wireframe and crawling grain.
#include "scenes/halftone_scene.h"

#include <GL/gl.h>

#include "render/camera.h"
#include "render/mesh.h"
#include "state/demo_state.h"

const Mesh* halftoneMesh(int index, const int32_t** shadeLevels) {
    if (index == 0) {
        *shadeLevels = meshHShadeLevels;
        return &meshH;
    }
    if (index == 1) {
        *shadeLevels = meshGShadeLevels;
        return &meshG;
    }
    *shadeLevels = nullptr;
    return nullptr;
}

// The wobble breathes the field of view (116..124 degrees), spins the whole
// pose a little and shifts the black silhouette off the wireframe, so the
// three layers slide against each other. The halftone sits one unit further
// along the model's z. With no mesh for the index every state change still
// happens, so later scenes inherit the same state.
void drawHalftoneMeshScene() {
    const int32_t* levels = nullptr;
    const Mesh* mesh = halftoneMesh(cues.halftoneMeshIndex, &levels);

    glShadeModel(GL_FLAT);
    glDisable(GL_LIGHTING);
    beginPerspective(120.0f + 20.0f * halftoneWobble[0]);
    glColor3f(0.0f, 0.0f, 0.0f);
    glRotatef(halftoneWobble[2] * 100.0f, 0.5f, 1.0f, 0.6f);

    glPushMatrix();
    glTranslatef(halftoneWobble[0], halftoneWobble[1], halftoneWobble[2]);
    if (mesh) drawMesh(*mesh);
    glPopMatrix();

    glColor3f(1.0f, 1.0f, 1.0f);
    glPolygonMode(GL_FRONT, GL_LINE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glLineWidth(2.0f);
    if (mesh) drawMesh(*mesh);
    glLineWidth(1.0f);
    glPolygonMode(GL_FRONT, GL_FILL);
    glDisable(GL_BLEND);

    glTranslatef(0.0f, 0.0f, 1.0f);
    if (mesh) drawMeshHalftone(levels, mesh->faces, mesh->vertices, mesh->faceCount);
    endProjection();
}
