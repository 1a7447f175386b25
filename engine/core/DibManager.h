#pragma once
// The engine's image factory, and the engine-wide pointer every photo element
// takes its images from.

#include "PanoramaLib.h"

class CDibManager : public PanoramaLib::IDibManager {
public:
    PanoramaLib::IDib* CreateDib(int reserved) override;
    PanoramaLib::IDib* CloneDib(PanoramaLib::IDib* source, int reserved) override;
};

// Set by the panorama factories before the first element is made.
extern PanoramaLib::IDibManager* g_pDibManager;
