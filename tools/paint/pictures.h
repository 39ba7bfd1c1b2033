// pictures.h -- the painters of the demo's fifteen pictures.
#pragma once

#include <string>

#include "canvas.h"
#include "picture_list.h"

// Paints one picture of kPictures at its listed size. Returns false with a
// reason when it cannot (a title card whose lettering would leave its box).
bool paintPicture(const PictureInfo& info, Canvas* out, std::string* reason);
