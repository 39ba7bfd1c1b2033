// displaced_scene.cpp -- the displaced mesh scene: a textured mesh seen from inside.
#include "scenes/displaced_scene.h"

#include <cmath>

#include "render/camera.h"
#include "render/gl_state.h"
#include "render/mesh.h"
#include "state/demo_state.h"

GLuint displacedSceneTexture = 0;

// With the far source point the exponential is 1 to within 1e-4 and the sine
// term varies slowly over the mesh, so the targets lie between about 4.75
// and 5 model units.
float displacementTarget(float d) {
    return std::exp(1.0f / (d + 0.01f)) * (std::sin(d * kDegToRad) + 1.0f) * 0.5f * 5.0f;
}

// Values at or below 0 are not halved: a negative value climbs by a whole a
// per frame until it turns positive, then converges from there.
void updateDisplacement(float* displacement, const float* vertices, int vertexCount, float sourceX,
                        float sourceY, float sourceZ) {
    for (int k = 0; k < vertexCount; ++k) {
        const float* p = vertices + 3 * k;
        const float dx = p[0] - sourceX, dy = p[1] - sourceY, dz = p[2] - sourceZ;
        float v = displacement[k] + displacementTarget(std::sqrt(dx * dx + dy * dy + dz * dz));
        if (v > 0.0f) v -= v * 0.5f;
        displacement[k] = v;
    }
}

// The eye sits at the origin, inside the mesh; the light rides with it. The
// displacement is applied in model units, before the scale of five.
void drawDisplacedMeshScene(float spinClock) {
    const GLfloat eye[] = {0.0f, 0.0f, 0.0f, 1.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, eye);
    glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, 0.01f);
    glEnable(GL_LIGHTING);
    beginSphereMapped(displacedSceneTexture);
    beginPerspective(150.0f);

    glPushMatrix();
    glRotatef(spinClock * 0.04f, 1.0f, 1.0f, 1.0f);
    glScalef(5.0f, 5.0f, 5.0f);
    drawMeshDisplaced(meshI.vertices, meshI.normals, meshI.faces, meshI.faceCount, meshIDisplacement);
    glPopMatrix();

    glDisable(GL_LIGHTING);
    endProjection();
    endSphereMapped();
}
