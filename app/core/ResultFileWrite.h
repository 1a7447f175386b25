#pragma once
// One write of the full-size result through the image import/export library:
// the result described as a packed DIB, the source that serves its lines and
// the write's progress. Made on the user-interface thread when the write's
// turn comes; Write runs off it while nothing else touches the result.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "EngineCallbacksEx.h"
#include "ImageFileBridge.h"

namespace PanoramaLib {
class IPanoElement;
}

class CResultFileWrite {
public:
    // full: a valid picture, whose lines must stay as they are until the
    // write has ended; owner: the window the library's dialogs belong to.
    CResultFileWrite(const PanoramaLib::IPanoElement& full, IProgressIndicatorEx* progress, unsigned textId,
                     std::string path, void* owner);
    CResultFileWrite(const CResultFileWrite&) = delete;
    CResultFileWrite& operator=(const CResultFileWrite&) = delete;

    // The chosen format's own settings, asked in its setup dialog; the write
    // takes them from the library's settings file.
    void AskFormatOptions();
    // The library writes to a temporary file and renames it over the target
    // only once complete, so a cancelled write leaves the target as it was.
    // Its result: 1 when written.
    int Write();

private:
    BitmapInfo m_info;
    std::vector<std::uint8_t> m_packed;
    std::unique_ptr<CWriteFilePluss> m_source;
    CMyProgress m_progress;
    std::string m_path;
    void* m_owner = nullptr;
};
