#include "DibManager.h"

#include <new>

#include "PImage.h"

PanoramaLib::IDibManager* g_pDibManager = nullptr;

PanoramaLib::IDib* CDibManager::CreateDib(int) {
    return new (std::nothrow) PanoramaLib::PImage();
}

PanoramaLib::IDib* CDibManager::CloneDib(PanoramaLib::IDib* source, int) {
    if (!source)
        return nullptr;
    // The copy constructor's dibException passes to the caller; new frees the
    // memory of the half-made object on the way.
    return new (std::nothrow) PanoramaLib::PImage(*source);
}
