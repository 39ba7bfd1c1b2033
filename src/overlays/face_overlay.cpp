// face_overlay.cpp -- the face overlay: three full-screen faces pulsing with the music.
#include "overlays/face_overlay.h"

GLuint faceTexture = 0;
GLuint faceAntiTexture = 0;
GLuint visoTexture = 0;
