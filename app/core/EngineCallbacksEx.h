#pragma once
// The program's extensions of the engine callbacks, which the main frame
// implements: the progress sink with a free text line, and the user-interface
// callback as it is.

#include "PanoramaLib.h"

class IProgressIndicatorEx : public PanoramaLib::IProgressIndicator {
public:
    // text: UTF-8, shown as it is (never used as a format).
    virtual void SetText(const char* text) = 0;
};

class IUserInterfaceEx : public PanoramaLib::IUserInterface {};
