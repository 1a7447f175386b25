// The browser's EXIF readers: the fields the information panel shows, and
// the previews of JPEG and TIFF files.
#include "ExifFields.h"
#include "ExifFixture.h"
#include "ExifThumbnail.h"
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const char* extension : {".jpg", ".tif"}) {
        const std::string path = Fuzz::InputFile(data, size, extension);
        try {
            std::vector<std::uint32_t> request;
            for (const ExifField& field : ExifFieldTable())
                request.push_back(field.tag);
            std::vector<std::string> texts;
            ReadExifFields(path, request, texts);
        } catch (...) {
            // A damaged file is reported to the caller by exception.
        }
        ThumbBox box{220, 165};
        std::uint32_t width = 0, height = 0;
        int flag = 0;
        try {
            if (extension[1] == 'j')
                ExtractExifThumbnail(path, box, width, height, flag);
            else
                ExtractTiffThumbnail(path, box, width, height, flag);
        } catch (...) {
            // So are the previews' readers, as the thumbnail maker expects.
        }
    }
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    return {{"camera.jpg", Fixture::CameraJpeg()},
            {"camera-le.tif", Fixture::CameraTiff(false, true)},
            {"camera-be.tif", Fixture::CameraTiff(true, false)}};
}
