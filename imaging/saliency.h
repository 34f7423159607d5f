// Where in a picture a window of a given size is best placed: on what draws the eye (attention)
// or on the busiest part (entropy). The search runs along one axis at a time, which is all a
// crop-to-fill needs: the scaled picture already matches the box on the other axis.
#pragma once

#include <cstdint>

#include "imaging/raster_image.h"

namespace quorvex {

enum class TSaliency { Attention, Entropy };

// The offset along the axis the window is shorter on (x when window width < picture width, else
// y) that gives the window the highest score; 0 when the window spans the picture. Ties go to
// the offset nearest the centre.
int32_t BestWindowOffset(const TBitmap& picture, int32_t windowWidth, int32_t windowHeight,
                         TSaliency kind);

}  // namespace quorvex
