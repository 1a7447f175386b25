#include "ConverterSetup.h"

#include <atomic>

#include "ConverterChoice.h"
#include "ErrorReporter.h"
#include "FormgateApp.h"
#include "ModuleStrings.h"

namespace formgate {

std::string ConverterKind(std::uint32_t flags) {
    const bool reads = flags & ImExp::FlagRead, writes = flags & ImExp::FlagWrite;
    if (reads && writes)
        return ModuleString(IDS_KIND_IMPORT_EXPORT);
    if (writes)
        return ModuleString(IDS_KIND_EXPORT);
    if (reads)
        return ModuleString(IDS_KIND_IMPORT);
    return ModuleString(IDS_UNKNOWN);
}

ConverterSetup::ConverterSetup()
    : registry_(std::make_shared<ConverterRegistry>(*TheFormgateApp().Registry())) {}

int ConverterSetup::Count() const {
    return registry_->Count();
}

std::string ConverterSetup::Name(int index) const {
    return Valid(index) ? registry_->Record(index).name : "";
}

std::string ConverterSetup::Path(int index) const {
    return Valid(index) ? registry_->Record(index).path : "";
}

std::string ConverterSetup::Kind(int index) const {
    return Valid(index) ? ConverterKind(registry_->Record(index).flags) : "";
}

std::uint32_t ConverterSetup::Flags(int index) const {
    return Valid(index) ? registry_->Record(index).flags : 0;
}

void ConverterSetup::Publish() {
    TheFormgateApp().SetRegistry(std::make_shared<const ConverterRegistry>(*registry_));
}

std::string ConverterSetup::Install(int position, const std::string& path, void* dialog) {
    // A registry that never loaded a list still knows where the list belongs.
    if (registry_->SettingsPath().empty() && registry_->Count() == 0)
        registry_->Load(TheFormgateApp().SettingsPath(), TheFormgateApp().ModuleFolder());
    switch (registry_->Install(position, path)) {
        case ConverterRegistry::InstallResult::Installed:
            Publish();
            return {};
        case ConverterRegistry::InstallResult::AlreadyInstalled:
            return ModuleString(IDS_ALREADY_INSTALLED);
        case ConverterRegistry::InstallResult::NoMemory:
            ReportError(dialog, ImExp::ErrorNoMemory, nullptr, nullptr);
            return {};
        case ConverterRegistry::InstallResult::Unusable:
            break;
    }
    std::string text = ModuleString(IDS_UNABLE_TO_INSTALL);
    text.replace(text.find("%s"), 2, path);
    return text;
}

void ConverterSetup::Remove(int index) {
    if (registry_->Remove(index))
        Publish();
}

void ConverterSetup::Setup(int index, void* dialog) {
    ConverterLibrary library;
    if (!Valid(index) || registry_->OpenConverter(index, library) != 0)
        return;
    const std::string settings = registry_->SettingsPath();
    if (auto* setup = FORMGATE_ENTRY(library, ConvSetup))
        GuardedCall([&] { setup(dialog, settings.c_str()); });
    if (registry_->Redescribe(index, library))
        Publish();
}

void ConverterSetup::About(int index, void* dialog) {
    ConverterLibrary library;
    if (!Valid(index) || registry_->OpenConverter(index, library) != 0)
        return;
    if (auto* about = FORMGATE_ENTRY(library, ConvAbout))
        GuardedCall([&] { about(dialog); });
}

}  // namespace formgate

namespace {

std::atomic<int> setupOpen{0};

}  // namespace

int ImExp_ConfigureConverters(void* owner) {
    try {
        formgate::UiHost* host = TheFormgateApp().Host();
        if (!host || !host->CanShowDialogs())
            return 0;
        // One dialog at a time: two would publish conflicting lists.
        if (setupOpen.fetch_add(1) != 0) {
            setupOpen.fetch_sub(1);
            formgate::ReportError(owner, ImExp::ErrorConverterInUse, nullptr, nullptr);
            return 0;
        }
        struct Leave {
            ~Leave() { setupOpen.fetch_sub(1); }
        } leave;
        formgate::ConverterSetup model;
        return host->ConfigureConverters(owner, model);
    } catch (...) {
        return 0;
    }
}

int ImExp_SetupWriter(const CAbstractWriteWA* source, void* owner, const char* path) {
    try {
        formgate::UiHost* host = TheFormgateApp().Host();
        if (!path || !host || !host->CanShowDialogs())
            return 0;
        std::uint32_t mask = 0xFFFFFFFFu;
        if (source) {
            int type = 0;
            // The source's queries are not const in the interface; asking changes nothing.
            auto* asked = const_cast<CAbstractWriteWA*>(source);
            if (asked->GetFormat(0, 0, &type) != 0)
                return 0;
            mask = formgate::WriterMask(type);
            if (mask == 0)
                return 0;
        }
        formgate::ConverterSetup model;
        const auto registry = TheFormgateApp().Registry();
        const int chosen = formgate::ChooseWriter(*registry, mask, path);
        if (chosen < 0 || !(registry->Record(chosen).flags & ImExp::FlagSetup))
            return 0;
        model.Setup(chosen, owner);
        return 1;
    } catch (...) {
        return 0;
    }
}
