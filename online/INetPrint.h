#pragma once
// What the print-service code and the crop view ask of the document.

#include <vector>

#include "AspectData.h"

namespace NetPrint {

class INetPrint {
public:
    virtual std::vector<CAspectData>* GetProductList() = 0;
    virtual void SelectPrintProduct(const CAspectData& product) = 0;
    virtual CAspectData* GetNetPrintSettings() = 0;
    virtual ~INetPrint() = default;
};

}  // namespace NetPrint
