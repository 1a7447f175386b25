#pragma once
// "Converter Setup": installing, removing, setting up and describing the
// converters. The model works on a copy of the registry and publishes every
// change, so readers on other threads keep the snapshot they hold.

#include <memory>
#include <string>

#include "ConverterRegistry.h"
#include "UiHost.h"

namespace formgate {

class ConverterSetup : public ConverterSetupModel {
public:
    ConverterSetup();

    int Count() const override;
    std::string Name(int index) const override;
    std::string Path(int index) const override;
    std::string Kind(int index) const override;
    std::uint32_t Flags(int index) const override;
    std::string Install(int position, const std::string& path, void* dialog) override;
    void Remove(int index) override;
    void Setup(int index, void* dialog) override;
    void About(int index, void* dialog) override;

private:
    bool Valid(int index) const { return index >= 0 && index < registry_->Count(); }
    void Publish();

    std::shared_ptr<ConverterRegistry> registry_;
};

// The kind shown for a converter's flags: "Import/Export filter", ...
std::string ConverterKind(std::uint32_t flags);

}  // namespace formgate
