// Where two pictures of one size differ: the page is sent only that part of
// a new picture when it shows the one before, which for a change of
// settings is the overlay's area, not the whole frame.
#pragma once

#include "apps/quillmere/base/picture.h"
#include "convert/picture_rect.h"

// The smallest rectangle holding every pixel whose colour differs between
// `before` and `after` (the same size); empty when none does. The fourth
// byte of a pixel (not shown) is not compared.
PictureRect DifferingRect(const Picture& before, const Picture& after);
