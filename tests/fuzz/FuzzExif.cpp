// The browser's EXIF readers: the fields the information panel shows, and
// the previews of JPEG and TIFF files.
#include "ExifFields.h"
#include "ExifFixture.h"
#include "ExifThumbnail.h"
#include "FuzzTarget.h"
#include "ReadThroughExif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const char* extension : {".jpg", ".tif"})
        Fuzz::ReadThroughExif(Fuzz::InputFile(data, size, extension), extension[1] == 'j');
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    return {{"camera.jpg", Fixture::CameraJpeg()},
            {"camera-le.tif", Fixture::CameraTiff(false, true)},
            {"camera-be.tif", Fixture::CameraTiff(true, false)}};
}
