#include "ImageInfo.h"

#include <cstring>
#include <memory>

#include "ConverterChoice.h"
#include "ConverterLibrary.h"
#include "ErrorReporter.h"
#include "FormgateApp.h"
#include "IOStream.h"
#include "ModuleStrings.h"
#include "Utf16.h"

namespace formgate {

namespace {

std::string Format(const char* format, unsigned a, unsigned b) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string FileTitle(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

template <size_t N>
std::string Field(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

}  // namespace

std::string GroupedNumber(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<size_t>(at), ",");
    return digits;
}

ImageInfoTexts ImageInfoDialogTexts(const CONVIMAGEINFO& info) {
    ImageInfoTexts texts;
    texts.fileName = Field(info.fileName);
    texts.format = Field(info.formatName);
    texts.showImageCount = info.imageCount >= 2;
    if (texts.showImageCount)
        texts.image = Format("%u / %u", info.imageIndex + 1u, info.imageCount);
    texts.size = Format("%u X %u", info.width, info.height);
    texts.colourType = ColourTypeName(info.colourType);
    const unsigned bits = info.bitsPerPixel;
    if (bits < 25 || bits == 32)
        texts.colours = GroupedNumber(std::uint64_t(1) << (bits < 24 ? bits : 24));
    else
        texts.colours = ModuleString(IDS_DEEP_COLOURS);
    const unsigned x = info.xResolution, y = info.yResolution;
    switch (info.resolutionUnit) {
        case 1:
            texts.resolution = Format("%u X %u", x, y);
            break;
        case 2:
            texts.resolution = Format("%u X %u dot/inch", x, y);
            break;
        case 3:
            texts.resolution = Format("%u X %u dot/cm", x, y);
            break;
        case 4:
            texts.resolution = Format("Screen %u X %u pixels", x, y);
            break;
        default:
            texts.resolution = ModuleString(IDS_UNKNOWN);
            break;
    }
    texts.compression = info.compression[0] ? Field(info.compression) : ModuleString(IDS_UNCOMPRESSED);
    texts.detailsEnabled = info.detailsAvailable != 0;
    return texts;
}

int ParseImageNumber(const std::string& text, int count) {
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos || end - begin + 1 > 9)
        return -1;
    long value = 0;
    for (size_t i = begin; i <= end; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value >= 1 && value <= count ? static_cast<int>(value - 1) : -1;
}

namespace {

// One run of ImExp_ShowFileInfo; the converter stays loaded while the dialog is open.
class ShowInfoOperation {
public:
    ShowInfoOperation(void* owner, std::string path, const char16_t* widePath)
        : owner_(owner), path_(std::move(path)), widePath_(widePath) {}

    // 1 when shown; 0 after a reported error, a cancel or without a user interface.
    int Run(int imageNumber) {
        UiHost* host = TheFormgateApp().Host();
        if (!host || !host->CanShowDialogs())
            return 0;
        const bool opened = widePath_ ? stream_.Open(widePath_, CImExp_FileStream::OpenMode::Read)
                                      : stream_.Open(path_.c_str(), CImExp_FileStream::OpenMode::Read);
        if (!opened)
            return Fail(ImExp::ErrorCannotOpen);
        registry_ = TheFormgateApp().Registry();
        settings_ =
            registry_->SettingsPath().empty() ? TheFormgateApp().SettingsPath() : registry_->SettingsPath();
        const int reader = ChooseReader(*registry_, path_.c_str(), stream_, -1);
        if (reader < 0)
            return Fail(ImExp::ErrorUnknownFormat);
        if (registry_->OpenConverter(reader, library_) != 0)
            return Fail(ImExp::ErrorConverterMissing);

        int count = 1;
        int chooses = 0;
        if (registry_->Record(reader).flags & ImExp::FlagSeveralImages) {
            auto* getCount = FORMGATE_ENTRY(library_, RDGetImageCount);
            if (!getCount)
                return Fail(ImExp::ErrorConverterMissing);
            count = 0;
            const int code = GuardedCall([&] {
                stream_.Seek(0, 0, nullptr);
                return getCount(&stream_, settings_.c_str(), &count, &chooses);
            });
            if (code != 0)
                return Fail(code);
            if (count < 1)
                return Fail(ImExp::ErrorNoImages);
        }

        int index = 0;
        if (count > 1 && !chooses) {
            if (imageNumber < 0) {
                index = host->SelectImage(owner_, FileTitle(path_), count, [count](const std::string& text) {
                    return ParseImageNumber(text, count);
                });
                if (index < 0)
                    return 0;
            } else if (imageNumber < count) {
                index = imageNumber;
            }
        }

        auto* getInfo = FORMGATE_ENTRY(library_, RDGetImageInfo);
        if (!getInfo)
            return Fail(ImExp::ErrorConverterMissing);
        std::memset(&info_, 0, sizeof info_);
        info_.imageCount = static_cast<std::uint16_t>(count > 0xFFFF ? 0xFFFF : count);
        info_.imageIndex = static_cast<std::uint16_t>(index);
        const int code = GuardedCall([&] {
            stream_.Seek(0, 0, nullptr);
            return getInfo(&stream_, index, settings_.c_str(), &info_);
        });
        if (code != 0)
            return Fail(code);
        // The dialog names the file by its title, whatever the converter wrote there.
        const std::string title = FileTitle(path_);
        std::memset(info_.fileName, 0, sizeof info_.fileName);
        std::memcpy(info_.fileName, title.data(), std::min(title.size(), sizeof info_.fileName - 1));
        info_.formatName[sizeof info_.formatName - 1] = '\0';
        info_.compression[sizeof info_.compression - 1] = '\0';

        return host->ShowImageInfo(owner_, ImageInfoDialogTexts(info_),
                                   [this](void* dialog) { Details(dialog); });
    }

private:
    int Fail(int code) {
        ReportError(owner_, code, path_.c_str(), library_.IsOpen() ? &library_ : nullptr);
        return 0;
    }

    void Details(void* dialog) {
        auto* show = FORMGATE_ENTRY(library_, RDShowDetails);
        if (!show) {
            ReportError(dialog, ImExp::ErrorConverterMissing, path_.c_str(), &library_);
            return;
        }
        const int code = GuardedCall([&] {
            stream_.Seek(0, 0, nullptr);
            return show(&stream_, dialog, settings_.c_str(), &info_);
        });
        if (code != 0)
            ReportError(dialog, code, path_.c_str(), &library_);
    }

    void* owner_;
    std::string path_;
    const char16_t* widePath_;
    CImExp_FileStream stream_;
    std::shared_ptr<const ConverterRegistry> registry_;
    std::string settings_;
    ConverterLibrary library_;
    CONVIMAGEINFO info_{};
};

}  // namespace

int ShowFileInfo(void* owner, const std::string& path, const char16_t* widePath, int imageNumber) {
    try {
        ShowInfoOperation operation(owner, path, widePath);
        return operation.Run(imageNumber);
    } catch (const std::bad_alloc&) {
        ReportError(owner, ImExp::ErrorNoMemory, path.c_str(), nullptr);
        return 0;
    } catch (...) {
        ReportError(owner, ImExp::ErrorGeneral, path.c_str(), nullptr);
        return 0;
    }
}

}  // namespace formgate

int ImExp_ShowFileInfo(void* owner, const char* path, int imageNumber) {
    return formgate::ShowFileInfo(owner, path ? path : "", nullptr, imageNumber);
}

int ImExp_ShowFileInfoW(void* owner, const char16_t* path, int imageNumber) {
    try {
        return formgate::ShowFileInfo(owner, formgate::Utf8FromUtf16(path), path ? path : u"", imageNumber);
    } catch (...) {
        return 0;
    }
}
