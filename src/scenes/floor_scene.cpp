// floor_scene.cpp -- the stencil floor scene: two meshes above a floor of pulsing squares.
#include "scenes/floor_scene.h"

#include "render/gl_state.h"
#include "render/mesh.h"
#include "scenes/square_grid.h"
#include "state/demo_state.h"

GLuint floorPairTexture = 0;
GLuint floorMaskMeshTexture = 0;

// A sphere-mapped mesh at height y, turned with the floor and scaled by 3.
static void drawFloatingMesh(const Mesh& mesh, GLuint texture, float y, float spin) {
    beginSphereMapped(texture);
    glPushMatrix();
    glTranslatef(0.0f, y, 0.0f);
    glRotatef(spin, 1.0f, 1.0f, 1.0f);
    glScalef(3.0f, 3.0f, 3.0f);
    glColor3f(1.0f, 1.0f, 1.0f);
    drawMesh(mesh);
    glPopMatrix();
}

// Mask, then the grid and the sunken mesh inside it, the pulsing grid outside
// it, and last the two meshes above with the stencil test off, so they are
// drawn over the floor wherever they overlap it.
void drawFloorScene() {
    const float spin = -0.1f * floorSpinPhase;

    const GLfloat origin[] = {0.0f, 0.0f, 0.0f, 1.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, origin);
    glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, 1e-7f);

    beginStencilMask();
    glColor3f(1.0f, 1.0f, 1.0f);
    glPushMatrix();
    glScalef(5.0f, 0.01f, 5.0f);
    glRotatef(spin, 1.0f, 1.0f, 1.0f);
    drawMeshPositionsNoDepth(meshB.vertices, meshB.faces, meshB.faceCount);
    glPopMatrix();

    drawInsideStencilMask();

    glDisable(GL_LIGHTING);
    drawSquareGridSized(0.6f, 0.5f, 0.4f, 0.1f);
    glEnable(GL_LIGHTING);
    drawFloatingMesh(meshJ, floorPairTexture, -60.0f, spin);
    endSphereMapped();

    drawOutsideStencilMask();
    glDisable(GL_LIGHTING);
    drawSquareGrid(0.6f, 0.5f, 0.4f);
    glEnable(GL_LIGHTING);
    endStencilWindow();

    drawFloatingMesh(meshJ, floorPairTexture, 60.0f, spin);
    endSphereMapped();

    // The mask mesh's copy above the floor, smooth-shaded, with the
    // generation mode set again for it.
    glShadeModel(GL_SMOOTH);
    glTexGenf(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glTexGenf(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    drawFloatingMesh(meshB, floorMaskMeshTexture, 60.0f, spin);
    endSphereMapped();
    glDisable(GL_LIGHTING);
}
