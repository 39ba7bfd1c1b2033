// window_scene.h -- the silhouette window scene's picture.
#pragma once

#include <GL/gl.h>

// "textures/ecli2_r.jpg", wrapped by sphere mapping.
extern GLuint windowSceneTexture;
