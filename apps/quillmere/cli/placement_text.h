// A placement written back as the command line and the settings file spell
// it, so that it reads back as the same placement.
#pragma once

#include <string>

#include "apps/quillmere/plan/placement.h"

// "12" or "2.5%": the shortest fixed-point text of the same length.
std::string PlacementLengthText(const PlacementLength& length);
// "W", "xH" or "WxH" with the parts that `request` gives; "" for neither.
std::string PlacementSizeText(const PlacementRequest& request);
