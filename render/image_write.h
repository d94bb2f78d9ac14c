// PNG writers (screenshots, height fields).
#pragma once

// 8-bit RGB PNG; the buffer's rows run bottom to top, as read back from the frame
// buffer. Written through the data-file layer to a temporary file that replaces
// the target only once complete.
bool write_png_rgb(const char *name, const unsigned char *pixels, int width, int height);
