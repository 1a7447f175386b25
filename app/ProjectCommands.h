#pragma once
// The project commands the main frame routes to: "&Add Images..." (57601),
// add the browser's selection (32808), "&Remove Image" (32813), "Remove All
// &Images" (32811), and files dropped on the main window. Every way of adding
// asks the document's change guard first, so a result built without the new
// photos is marked out of date.

#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "CMyOpenFileDlg.h"

class COvHorizelDoc;
class CEditVideoStoryboard;
class QMimeData;
class QWidget;

class CProjectCommands {
public:
    CProjectCommands(QWidget* frame, COvHorizelDoc& document);

    void SetStrip(CEditVideoStoryboard* strip) { m_strip = strip; }
    // Shows a message; by default a message box over the frame.
    std::function<void(const std::string&)> showMessage;
    // The formats the open dialog offers; by default the module's.
    CMyOpenFileDlg::FormatSource openFormats;
    // Called with the open dialog before it runs (tests drive it from here).
    std::function<void(CMyOpenFileDlg&)> onOpenDialog;

    // The frame's add operation: the change guard, then the document adds
    // the readable files not yet in the project. False when the user kept
    // the list.
    bool AddFilesToProject(const std::vector<std::string>& paths);

    void OnFileOpen();
    bool CanFileOpen() const;
    void OnAddSelectedImages(const std::vector<std::string>& selected,
                             const std::function<void()>& deselectAll);
    void OnRemoveImage();
    void OnRemoveAllImages();
    // Removing all photos is offered on the add-images task only: elsewhere
    // the document would drop the result and keep the photos.
    bool CanRemoveAllImages() const;

    // A drop of files (text/uri-list) is accepted when it names a local file.
    static bool AcceptsDrop(const QMimeData* data);
    // The dropped regular files, as the file system names them; folders and
    // other URLs are left out.
    static std::vector<std::string> DroppedFiles(const QMimeData* data);
    // Adds the dropped files one by one, as the shell hands them over.
    void OnDropFiles(const QMimeData* data);

private:
    void Message(unsigned id);

    QPointer<QWidget> m_frame;
    COvHorizelDoc& m_document;
    CEditVideoStoryboard* m_strip = nullptr;
};
