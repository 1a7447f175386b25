#pragma once
// The photo browser: the thumbnail browser model for image files, with a
// low-priority thread that loads the current file's whole picture for the
// main window's preview, so the user interface never waits for a decode.
// When a picture is ready the main window gets ID_FILEREADED.

#include <QImage>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "CThumbsBrowser.h"
#include "CommandIds.h"
#include "WorkQueue.h"

// Set to cancel a running picture read (the reader's progress polls it).
extern std::atomic<int> g_bCancelImageRead;

// Reads the whole picture of a file; null when it does not decode. The plain
// reader uses Qt's image codecs; the program may install one that also goes
// through the import/export module. A reader should give up soon after
// g_bCancelImageRead is set.
using PictureReader = std::function<std::shared_ptr<QImage>(const std::string& path)>;
void SetPictureReader(PictureReader reader);

class CImgThumbsBrowser : public CThumbsBrowser {
public:
    // Posted to the main window when a requested picture is loaded.
    static constexpr int ID_FILEREADED = CmdId::FileReaded;

    explicit CImgThumbsBrowser(CThumbsBuilderThreads& builder = g_ThumbsBuilderThreads);
    // Stops the loader (a running read is cancelled) and waits for it.
    ~CImgThumbsBrowser() override;

    void CancelImageRead() override;
    // The thumbnail of oldPath serves newPath; oldPath's entry goes once its file is gone.
    void OnFileRenamed(const std::string& oldPath, const std::string& newPath) override;
    std::shared_ptr<CPaletteItem> NewItem() override;
    void ClearCurrentFile() override;
    // Deletes the selected files (or the current file) to the trash; on a
    // camera medium only after the user agreed. A delete that fails or is
    // declined drops only the undo record it made.
    void DeleteFiles(bool forgetUndo) override;

    std::string GetFirstSelectedFile() const;
    bool HasSelection() const;

    // The GDI+-style rotate-and-flip code (0 none, 1-3 quarter turns right,
    // 4-7 the same after a horizontal flip) applied to loaded pictures.
    void SetRotateFlip(int code);
    // Pictures decoded so far (tests).
    int Decodes() const { return m_decodes; }

    std::string m_currentFile;

protected:
    // True when folder lies on removable media (a camera card).
    virtual bool IsOnRemovableMedia(const std::string& folder) const;

private:
    void LoaderProc();
    void LoadRequestedPicture(uint64_t generation);
    void Announce(uint64_t generation, const std::string& path);

    // Each request is a new generation of this queue; what is requested is
    // the browser's requested picture. A load whose generation was replaced
    // announces nothing: the newer request is already waiting.
    CWorkQueue<std::string> m_pictureRequests;
    // The loaded picture the main window was told of (the loader's own).
    std::string m_announcedPicture;
    std::atomic<int> m_decodes{0};
    std::thread m_loader;
};

// The program's photo browser; null until the main view makes it.
extern CImgThumbsBrowser* g_pThumbsBrowser;

// The picture turned and flipped as a rotate-and-flip code says.
QImage RotateFlip(const QImage& image, int code);
