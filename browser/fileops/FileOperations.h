#pragma once
// The browser's file operations as a service: each copy, move or delete is
// a job (FileOperationJob.h) on a thread of its own, so the windows go on
// painting while it runs; the host's progress window shows a job that takes
// longer than a moment, and its Cancel stops the job after the file in hand.
// The job's questions and failure reports run on the user-interface thread.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FileOperationJob.h"

// How long a job runs before the progress window shows it (300 ms unless
// set): quick ones (a rename, a few photos) do not flash a window.
void SetFileOperationProgressDelay(int milliseconds);

// Starts the job; finished runs later on this thread with its result. Called
// on the user-interface thread, whose event loop must run until then; on any
// other thread, or without an application, the job runs here at once.
void StartFileOperation(std::shared_ptr<CFileOperationJob> job, std::function<void(bool ok)> finished);
// Starts the job and returns its result once it has ended. The wait is
// modal, like a dialog's: events go on being handled meanwhile, while the
// windows showing folders are disabled by the caller and the progress
// window takes the input. When the event loop is told to end first, the
// job is cancelled and awaited.
bool WaitForFileOperation(std::shared_ptr<CFileOperationJob> job);

// newName (no folder, no extension) becomes old folder + newName + old
// extension, returned in newName. Never replaces an existing file. A failure
// is reported to the user (an empty name is no rename and says nothing).
// A rename is one call within a folder: its job runs on this thread.
bool ShellRenameFile(const std::string& oldPath, std::string& newName);

// Copies or moves paths into the folder target, deletes them, or renames
// paths[0] to target, as a job waited for (WaitForFileOperation), with the
// windows that show folders disabled meanwhile; the window that had the
// focus gets it back. Paths whose status cannot be read are dropped; false
// when all were dropped, when one failed, or when the user declined or
// cancelled. The operation stops at the first failure and, unless
// FOF_NOERRORUI is set, reports it with the system's reason; what was done
// before stays done, and sources are left intact when their operation fails.
// The browser's pastes, drops and deletes pass flagA clear and flagB set:
// a copy or move onto a taken name gets a free name, and failures are
// reported (a clear flagB would silence them).
bool ShellFileOperation(unsigned operation, const std::vector<std::string>& paths, const std::string& target,
                        bool flagA, bool flagB);
