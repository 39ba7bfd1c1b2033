// window_scene.cpp -- the silhouette window scene: a mesh with a window cut in a partner's shape.
#include "scenes/window_scene.h"

GLuint windowSceneTexture = 0;
