// displaced_scene.cpp -- the displaced mesh scene: a textured mesh seen from inside.
#include "scenes/displaced_scene.h"

GLuint displacedSceneTexture = 0;
