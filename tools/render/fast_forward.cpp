// fast_forward.cpp -- the rasteriser turned off for frames that write nothing.
#define GL_GLEXT_PROTOTYPES 1
#include "fast_forward.h"

#include <GL/gl.h>
#include <GL/glext.h>

namespace {

bool discarding = false;
long skipped = 0;

}  // namespace

void fastForwardFrame(bool pictureWanted) {
    if (!pictureWanted) ++skipped;
    if (discarding == !pictureWanted) return;
    discarding = !pictureWanted;
    if (discarding) glEnable(GL_RASTERIZER_DISCARD);
    else glDisable(GL_RASTERIZER_DISCARD);
}

long fastForwardedFrames() { return skipped; }
