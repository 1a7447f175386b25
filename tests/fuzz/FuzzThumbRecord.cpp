// A thumbnail cache record, read and written back as the cache does.
#include "Archive.h"
#include "CPaletteItem.h"
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        Archive::Reader reader(data, size);
        CPaletteItemImg item;
        item.LoadRecord(reader);
        Archive::Writer writer;
        item.StoreRecord(writer);
    } catch (...) {
        // Damaged records end in the archive's or the file's exception.
    }
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    CPaletteItemImg item;
    item.m_thumbWidth = 220;
    item.m_thumbHeight = 146;
    auto dib = std::make_shared<CDibBuffer>();
    dib->Create(220, 146, 24, nullptr);
    item.SetBitmap(dib);
    item.m_rects = {{1, 2, 4, 6}, {INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX}};
    item.m_exposure = "1/250";
    Archive::Writer writer;
    item.StoreRecord(writer);
    return {{"record.bin", writer.Bytes()}};
}
