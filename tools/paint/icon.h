// icon.h -- the program's icon: a tile of nine coloured tesserae, painted at
// any size with smooth edges, and written as PNG with transparency.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Paints the icon at size x size: straight (not premultiplied) RGBA, 8 bits
// a channel, top row first.
std::vector<uint8_t> paintIcon(int size);

// Writes RGBA pixels as a PNG file. Returns false with the reason when the
// file cannot be written.
bool writePngRgba(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba,
                  std::string* reason);
