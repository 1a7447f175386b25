#pragma once
// One file operation as a job: copy or move paths into a folder, delete them
// (to the trash or for good) or rename one. The job runs to its end on the
// thread that calls Run; its questions and failure reports go to the host
// through the asker, which runs them on the user-interface thread. It stops
// between files when cancelled, with nothing lost: what was done stays done,
// a partial copy is removed and a source is never touched before its copy
// stands.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class IBrowserHost;

// Operations and flags with the values the browser passes around.
enum FileOperation : unsigned { FO_MOVE = 1, FO_COPY = 2, FO_DELETE = 3, FO_RENAME = 4 };
enum FileOperationFlag : unsigned {
    FOF_RENAMEONCOLLISION = 0x8,  // a copy or move onto a taken name gets a free name
    FOF_ALLOWUNDO = 0x40,         // deleting moves to the trash
    FOF_NOERRORUI = 0x400,        // failures are not reported to the user
};

struct FileOperationProgress {
    unsigned operation = 0;
    size_t filesDone = 0;
    size_t filesTotal = 0;
    // Only copies and moves count bytes; 0 for the others.
    uint64_t bytesDone = 0;
    uint64_t bytesTotal = 0;
    std::string current;  // the path in hand
};

class CFileOperationJob {
public:
    // Runs one call to the host and returns when it has ended.
    using Asker = std::function<void(const std::function<void()>&)>;

    CFileOperationJob(unsigned operation, std::vector<std::string> paths, std::string target, unsigned flags);
    CFileOperationJob(const CFileOperationJob&) = delete;
    CFileOperationJob& operator=(const CFileOperationJob&) = delete;

    // Paths whose status cannot be read are dropped; false when all were
    // dropped, when one failed, when the user declined or cancelled. The job
    // stops at the first failure and, unless FOF_NOERRORUI is set, reports it
    // with the system's reason; a cancel is no failure and is not reported.
    // Without an asker the host is called on this thread.
    bool Run(IBrowserHost& host, const Asker& ask = {});

    // From any thread: the job stops once the file in hand is done.
    void Cancel() { m_cancelled = true; }
    bool IsCancelled() const { return m_cancelled; }
    FileOperationProgress Progress() const;
    unsigned Operation() const { return m_operation; }

    // Called on the job's thread as it advances: at each file and as a
    // copy's bytes are written.
    std::function<void()> onProgress;

private:
    void Advance(const std::function<void(FileOperationProgress&)>& change);

    const unsigned m_operation;
    const std::vector<std::string> m_paths;
    const std::string m_target;
    const unsigned m_flags;
    std::atomic<bool> m_cancelled{false};
    mutable std::mutex m_lock;
    FileOperationProgress m_progress;
};

// The flags ShellFileOperation uses, with the Shift key's state given.
unsigned FileOperationFlags(unsigned operation, bool shiftHeld, bool flagA, bool flagB);
// A job with these flags, run to its end on the calling thread.
bool RunFileOperation(unsigned operation, const std::vector<std::string>& paths, const std::string& target,
                      unsigned flags);
