// The print service's product list, "aspect.xml".
#include "AspectData.h"
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<NetPrint::CAspectData> products;
    ParseAspectXml(std::string(reinterpret_cast<const char*>(data), size), &products);
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    return {
        {"aspect.xml",
         Fuzz::Bytes("<?xml version=\"1.0\"?>\n<PRODUCT name=\"10x15\" w=\"100\" h=\"150\" oms_id=\"7\"/>\n"
                     "<PRODUCT w=\"90\" h=\"130\" oms_id=\"8\"/>\n")}};
}
