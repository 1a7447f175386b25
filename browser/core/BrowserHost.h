#pragma once
// What the photo browser asks of the program around it: whether the browser
// has a selection, which files are readable images, disabling the browser
// windows around a file operation, and the questions, error messages and
// progress window a file operation may need. The program installs its own
// host at start-up (SetBrowserHost); until then a plain one serves, whose
// questions are message boxes when an application runs.

#include <string>
#include <utility>
#include <vector>

#include "BrowserSettings.h"

class QWidget;
struct FileOperationProgress;

class IBrowserHost {
public:
    virtual ~IBrowserHost() = default;

    // True when the program's photo browser has at least one selected file.
    virtual bool HasBrowserSelection() { return false; }
    // The extension, lower-cased with its dot and at least 4 characters
    // long, is among the readable ones (".bmp;.jpg;.tif;.png;" by default).
    virtual bool IsReadableImageFile(const std::string& path);
    // Disables (false) or enables (true) the windows that show folders.
    virtual void EnableBrowserWindows(bool /*enable*/) {}
    // Posts a command to the program's main window (CmdId::ReadAgain re-reads the browser's
    // folder). Called from worker threads too, so it only posts.
    virtual void PostMainWindowCommand(int /*command*/) {}
    // The browser's six status texts for the main window's panes.
    virtual void SetStatusPanes(const std::vector<std::string>& /*texts*/, int /*flag*/) {}
    // The program's profile.
    virtual int GetProfileInt(const char* /*section*/, const char* /*key*/, int fallback) { return fallback; }
    virtual void WriteProfileInt(const char* /*section*/, const char* /*key*/, int /*value*/) {}
    virtual void WriteProfileString(const char* /*section*/, const char* /*key*/,
                                    const std::string& /*value*/) {}
    virtual std::string GetProfileString(const char* /*section*/, const char* /*key*/,
                                         const std::string& fallback) {
        return fallback;
    }
    // A location ("<kind>,<text>") was opened in the browser by sender (the
    // folder tree, the visited-folders strip, or another caller): the main
    // window lets the others follow it.
    virtual void OnLocationOpened(const std::string& /*location*/, const void* /*sender*/) {}
    // The visited-folders strip's "Parent folder": the folder tree selects
    // the parent of its selection (the first folder listener's, unless the
    // program's folder bar drives it).
    virtual void SelectParentFolder();
    // The program's main window: the owner of questions and menus.
    virtual QWidget* MainWindow() { return nullptr; }
    // The colours the browser draws with.
    virtual BrowserColours Colours() { return {}; }
    // The details list shows instead of the thumbnails (profile "VIEWLIST").
    virtual bool IsFilesListMode() { return false; }

    // Before files are deleted for good; true to go on.
    virtual bool ConfirmPermanentDelete(const std::vector<std::string>& paths);
    // A yes/no question (the camera delete warning); true for Yes.
    virtual bool AskYesNo(const std::string& text);
    // Before an existing file is replaced by a copy or move; true to replace.
    virtual bool ConfirmReplace(const std::string& target);
    // After a file operation failed on one path, unless errors are silenced.
    virtual void ReportFileOperationError(const std::string& path, const std::string& reason);
    // Before a file operation goes on without the sources it could not find
    // (each path with the reason), unless errors are silenced.
    virtual void ReportSkippedFiles(const std::vector<std::pair<std::string, std::string>>& skipped);

    // A file operation that takes more than a moment: its progress window
    // shows from Begin to End; Progressed answers true when the user asked
    // to cancel. All three on the user-interface thread.
    virtual void BeginFileOperation(unsigned /*operation*/) {}
    virtual bool FileOperationProgressed(const FileOperationProgress& /*progress*/) { return false; }
    virtual void EndFileOperation() {}
};

IBrowserHost& BrowserHost();
// Installs the program's host; null brings back the plain one. The host
// must outlive its installation.
void SetBrowserHost(IBrowserHost* host);

// True when the extension of path occurs in a list like ".bmp;.jpg;.tif;.png;".
bool ExtensionInList(const std::string& path, const std::string& list);
