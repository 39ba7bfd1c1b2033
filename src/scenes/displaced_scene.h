// displaced_scene.h -- the displaced mesh scene's picture.
#pragma once

#include <GL/gl.h>

// "textures/veloppo3.jpg", wrapped by sphere mapping.
extern GLuint displacedSceneTexture;
