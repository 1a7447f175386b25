#pragma once
// What the library asks of a user interface: message boxes, the wait cursor
// and its dialogs. The library runs without one (nothing is shown); the
// shared library forwards to the Qt implementation in its companion library,
// tests install a recording one or the Qt one directly.
//
// The dialogs here are views only: the library decides what they list, where
// they start and what a choice means, so that all of it is testable without
// a window system.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace formgate {

// One entry of a file dialog's type list: a description and ';'-separated
// extension patterns (".tif;.tiff").
struct FileDialogFilter {
    std::string description;
    std::string patterns;
};

class CPaletteItem;

// What the browse palette shows: which files are readable, their thumbnails
// from the cache (made when missing or older than the file), and the
// palette's settings. Closing stores them.
class BrowsePaletteModel {
public:
    virtual ~BrowsePaletteModel() = default;
    virtual bool Readable(const std::string& path) = 0;
    // The cached thumbnail of path; with make, one is made when there is none
    // or the file changed since. Null otherwise. Valid until the next call.
    virtual const CPaletteItem* Item(const std::string& path, bool make) = 0;
    virtual bool SaveOnExit() const = 0;
    virtual void SetSaveOnExit(bool save) = 0;
    // Drops the cached files that no longer exist.
    virtual void RefreshAll() = 0;
    virtual void DeleteCacheFile() = 0;
    // The stored window rectangle; false when none is stored.
    virtual bool SavedRect(int& left, int& top, int& right, int& bottom) const = 0;
    // Stores the rectangle and the settings, and the cache when it changed.
    virtual void Close(int left, int top, int right, int bottom) = 0;
};

struct OpenDialogRequest {
    std::vector<FileDialogFilter> filters;
    int initialFilter = 0;     // index into filters
    std::string directory;     // starting folder; empty: the current one
    std::string fileName;      // starting name, may hold a folder
    bool extraButtons = true;  // "&Info..." and "&Browse..."
    // "&Info..." pressed on a file: the dialog (as owner) and the file's path.
    std::function<void(void* dialog, const std::string& path)> showInfo;
    // "&Browse...": the model of a new thumbnail palette.
    std::function<std::unique_ptr<BrowsePaletteModel>()> browse;

    std::string chosenPath;  // out: UTF-8
    int chosenFilter = -1;   // out: index into filters
};

struct SaveDialogRequest {
    std::vector<FileDialogFilter> filters;
    int initialFilter = 0;
    std::string directory;
    std::string fileName;
    // The name a typed name stands for under filter index, so the dialog asks
    // before replacing the file that will really be written.
    std::function<std::string(const std::string& path, int filter)> finalName;

    std::string chosenPath;
    int chosenFilter = -1;
};

// The fields of the "Image Info" dialog, ready to show.
struct ImageInfoTexts {
    std::string fileName, format, image, size, colourType, colours, resolution, compression;
    bool showImageCount = false;  // "Images :" and its value
    bool detailsEnabled = false;
};

// What the "Converter Setup" dialog shows and changes: the installed
// converters, in order.
class ConverterSetupModel {
public:
    virtual ~ConverterSetupModel() = default;
    virtual int Count() const = 0;
    virtual std::string Name(int index) const = 0;
    virtual std::string Path(int index) const = 0;
    // "Import/Export filter", "Export filter", "Import filter" or "<Unknown>".
    virtual std::string Kind(int index) const = 0;
    virtual std::uint32_t Flags(int index) const = 0;
    // Installs the module at position (Count() for the end). Returns the
    // warning to show, empty when it was installed.
    virtual std::string Install(int position, const std::string& path, void* dialog) = 0;
    virtual void Remove(int index) = 0;
    // The converter's own set-up and about boxes, owned by dialog.
    virtual void Setup(int index, void* dialog) = 0;
    virtual void About(int index, void* dialog) = 0;
};

class UiHost {
public:
    enum class Icon { Error, Warning };

    virtual ~UiHost() = default;
    // A modal message box owned by owner (a QWidget* passed as void*, never null).
    virtual void MessageBox(void* owner, const std::string& text, const std::string& caption, Icon icon) = 0;
    // The wait cursor while a file is opened and set up; calls nest.
    virtual void BeginWaitCursor() {}
    virtual void EndWaitCursor() {}

    // Whether dialogs can be shown from this thread now.
    virtual bool CanShowDialogs() { return false; }
    // Modal dialogs; owner may be null. 1 when the user confirmed, 0 when
    // cancelled, -1 when no dialog could be shown.
    virtual int RunOpenDialog(void* /*owner*/, OpenDialogRequest& /*request*/) { return -1; }
    virtual int RunSaveDialog(void* /*owner*/, SaveDialogRequest& /*request*/) { return -1; }
    // "Select Image": the image number (from 0) the user chose among count;
    // -1 when cancelled or not shown. isValid judges the typed text and gives
    // the number, or -1 for "Illegal number entered.".
    virtual int SelectImage(void* /*owner*/, const std::string& /*fileTitle*/, int /*count*/,
                            const std::function<int(const std::string&)>& /*isValid*/) {
        return -1;
    }
    // "Image Info"; details is called with the dialog as owner. 1 when shown.
    virtual int ShowImageInfo(void* /*owner*/, const ImageInfoTexts& /*texts*/,
                              const std::function<void(void* dialog)>& /*details*/) {
        return 0;
    }
    // "Converter Setup". 1 when shown.
    virtual int ConfigureConverters(void* /*owner*/, ConverterSetupModel& /*model*/) { return 0; }
};

// Holds the wait cursor for a scope.
class WaitCursor {
public:
    WaitCursor() = default;
    ~WaitCursor() { Restore(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    void Begin(UiHost* host) {
        Restore();
        host_ = host;
        if (host_)
            host_->BeginWaitCursor();
    }
    void Restore() {
        if (host_)
            host_->EndWaitCursor();
        host_ = nullptr;
    }

private:
    UiHost* host_ = nullptr;
};

}  // namespace formgate
