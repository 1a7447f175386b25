#pragma once
// The engine's image factory (declared in the public services header), and the
// engine-wide pointer every photo element takes its images from.

#include "EngineServices.h"

// Set by the panorama factories before the first element is made.
extern PanoramaLib::IDibManager* g_pDibManager;
