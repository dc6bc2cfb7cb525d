// The skin as its resources hold it, decoded by the tests themselves rather
// than by the system that draws it.
#pragma once
#include <windows.h>

namespace td_test {

// The colour of pixel (x, y), counted from the top-left, of a skin bitmap in
// this process's resources; CLR_INVALID when the bitmap or pixel does not
// exist, or the bitmap does not decode whole.
COLORREF SkinPixel(const char* name, int x, int y);

} // namespace td_test
