// The delete command of the photo browser.

#include <chrono>
#include <thread>

#include "BrowserHost.h"
#include "CFolderMonitor.h"
#include "CImgThumbsBrowser.h"
#include "CommandIds.h"
#include "FileOperations.h"
#include "ShellNamespace.h"
#include "StringTable.h"

namespace {

constexpr unsigned IDS_CAMERA_DELETE = 131;

}  // namespace

bool CImgThumbsBrowser::IsOnRemovableMedia(const std::string& path) const {
    return !ShellNamespace::RemovableMountOf(path).empty();
}

void CImgThumbsBrowser::DeleteFiles(bool forgetUndo) {
    // Files on a camera card are gone for good; the user says so first.
    if (IsOnRemovableMedia(CurrentFolder()) && !BrowserHost().AskYesNo(Res::LoadStr(IDS_CAMERA_DELETE)))
        return;
    CFolderMonitor* monitor = FolderMonitor();
    if (monitor)
        monitor->m_bSuspended = 1;
    {
        std::lock_guard<std::mutex> lock(g_csPictureLoad);
        m_picture.reset();
        m_loadedPicture.clear();
        m_requestedPicture.clear();
    }
    auto resume = [monitor] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (monitor)
            monitor->m_bSuspended = 0;
    };
    std::vector<std::string> paths;
    GetSelectedFiles(paths);
    bool refresh = false;
    if (paths.empty()) {
        CFileStatus status;
        if (m_currentFile.empty() || !CFile::GetStatus(m_currentFile, status)) {
            resume();
            BrowserHost().PostMainWindowCommand(CmdId::ReadAgain);
            return;
        }
        paths.push_back(m_currentFile);
    } else {
        if (forgetUndo)
            ForgetUndo();
        refresh = true;
    }
    // Only a delete that happened is recorded: one that failed or was
    // declined leaves the older records and their saved files alone.
    if (ShellFileOperation(FO_DELETE, paths, std::string(), false, true))
        RecordUndo(2);
    else
        refresh = false;
    resume();
    if (refresh)
        BrowserHost().PostMainWindowCommand(CmdId::ReadAgain);
    Refresh();
}
