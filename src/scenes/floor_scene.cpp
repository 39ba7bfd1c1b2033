// floor_scene.cpp -- the stencil floor scene: two meshes above a floor of pulsing squares.
#include "scenes/floor_scene.h"

#include "render/mesh.h"
#include "scenes/square_grid.h"
#include "shell/demo_state.h"

GLuint floorPairTexture = 0;
GLuint floorMaskMeshTexture = 0;

// A sphere-mapped mesh at height y, turned with the floor and scaled by 3.
static void drawFloatingMesh(const Mesh& mesh, GLuint texture, float y, float spin) {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glEnable(GL_TEXTURE_GEN_S);
    glEnable(GL_TEXTURE_GEN_T);
    glPushMatrix();
    glTranslatef(0.0f, y, 0.0f);
    glRotatef(spin, 1.0f, 1.0f, 1.0f);
    glScalef(3.0f, 3.0f, 3.0f);
    glColor3f(1.0f, 1.0f, 1.0f);
    drawMesh(mesh);
    glPopMatrix();
}

static void disableTexturing() {
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
}

// Mask, then the grid and the sunken mesh inside it, the pulsing grid outside
// it, and last the two meshes above with the stencil test off, so they are
// drawn over the floor wherever they overlap it.
void drawFloorScene() {
    const float spin = -0.1f * floorClock;

    const GLfloat origin[] = {0.0f, 0.0f, 0.0f, 1.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, origin);
    glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, 1e-7f);

    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_ALWAYS, 1, 1);
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glColor3f(1.0f, 1.0f, 1.0f);
    glPushMatrix();
    glScalef(5.0f, 0.01f, 5.0f);
    glRotatef(spin, 1.0f, 1.0f, 1.0f);
    drawMeshPositionsNoDepth(meshB.vertices, meshB.normals, meshB.faces, meshB.faceCount);
    glPopMatrix();

    glEnable(GL_DEPTH_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glStencilFunc(GL_EQUAL, 1, 1);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);

    glDisable(GL_LIGHTING);
    drawSquareGridSized(0.6f, 0.5f, 0.4f, 0.1f);
    glEnable(GL_LIGHTING);
    drawFloatingMesh(meshJ, floorPairTexture, -60.0f, spin);
    disableTexturing();

    glStencilFunc(GL_EQUAL, 0, 1);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glDisable(GL_LIGHTING);
    drawSquareGrid(0.6f, 0.5f, 0.4f);
    glEnable(GL_LIGHTING);
    glDisable(GL_STENCIL_TEST);

    drawFloatingMesh(meshJ, floorPairTexture, 60.0f, spin);
    disableTexturing();

    // The mask mesh's copy above the floor, smooth-shaded, with the
    // generation mode set again for it.
    glShadeModel(GL_SMOOTH);
    glTexGenf(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glTexGenf(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    drawFloatingMesh(meshB, floorMaskMeshTexture, 60.0f, spin);
    disableTexturing();
    glDisable(GL_LIGHTING);
}
