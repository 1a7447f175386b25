#include "WicReader.h"

#include "CDibBuffer.h"

// The readers exist for the day an imaging factory is supplied, and nothing
// in the program supplies one: the thumbnail maker always goes on to its own
// readers (the embedded previews, the JPEG codec, the image-file bridge).
// Linux has no such component either, so the inactive state is the whole of
// this reader; the outputs are left as they were, as they are without a
// factory.
bool IsWicAvailable() {
    return false;
}

std::shared_ptr<CDibBuffer> ReadWicThumbnail(const std::string&, uint32_t, uint32_t, uint32_t&, uint32_t&,
                                             int&, int&, WicPhotoFacts&, const WicCancel&) {
    return nullptr;
}

std::shared_ptr<CDibBuffer> ReadWicImage(const std::string&, uint32_t, uint32_t, uint32_t&, uint32_t&, int&,
                                         const WicCancel&) {
    return nullptr;
}
