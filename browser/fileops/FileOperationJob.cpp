#include "FileOperationJob.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "BrowserHost.h"
#include "FileCopy.h"
#include "FreedesktopTrash.h"
#include "PathParts.h"

namespace fs = std::filesystem;

namespace {

std::string Reason(const std::error_code& ec) {
    return ec.message();
}

std::error_code ErrorOf(int error) {
    return std::error_code(error, std::generic_category());
}

}  // namespace

CFileOperationJob::CFileOperationJob(unsigned operation, std::vector<std::string> paths, std::string target,
                                     unsigned flags)
    : m_operation(operation), m_paths(std::move(paths)), m_target(std::move(target)), m_flags(flags) {
    m_progress.operation = operation;
}

FileOperationProgress CFileOperationJob::Progress() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_progress;
}

void CFileOperationJob::Advance(const std::function<void(FileOperationProgress&)>& change) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        change(m_progress);
    }
    if (onProgress)
        onProgress();
}

bool CFileOperationJob::Run(IBrowserHost& host, const Asker& asker) {
    auto ask = [&](const std::function<void()>& call) { asker ? asker(call) : call(); };
    std::vector<std::string> sources;
    std::vector<std::pair<std::string, std::string>> skipped;  // path, reason
    for (const std::string& p : m_paths) {
        struct stat st;
        if (::lstat(p.c_str(), &st) == 0)
            sources.push_back(p);
        else
            skipped.emplace_back(p, Reason(ErrorOf(errno)));
    }
    const bool reportErrors = !(m_flags & FOF_NOERRORUI);
    // An operation stops at its first failure, which the user is told about
    // unless errors are silenced: what was done before it stays done, the
    // rest is left as it was. A cancel stops it the same way, unreported.
    auto failed = [&](const std::string& path, const std::error_code& ec) {
        if (reportErrors && !(ec == std::errc::operation_canceled && IsCancelled()))
            ask([&] { host.ReportFileOperationError(path, Reason(ec)); });
        return false;
    };
    // Sources gone meanwhile are dropped, and the user is told which; with
    // none left there is nothing to do.
    if (sources.empty() && skipped.size() <= 1)
        return skipped.empty() ? false
                               : failed(skipped.front().first,
                                        std::make_error_code(std::errc::no_such_file_or_directory));
    if (!skipped.empty() && reportErrors)
        ask([&] { host.ReportSkippedFiles(skipped); });
    if (sources.empty())
        return false;

    const bool copying = m_operation == FO_COPY || m_operation == FO_MOVE;
    std::vector<uint64_t> sizes;
    for (const std::string& p : sources)
        sizes.push_back(copying ? TreeSize(p) : 0);
    Advance([&](FileOperationProgress& progress) {
        progress.filesTotal = sources.size();
        for (const uint64_t size : sizes)
            progress.bytesTotal += size;
    });
    uint64_t bytesBefore = 0;
    // Each source starts only while the job is not cancelled.
    auto next = [&](size_t i) {
        if (IsCancelled())
            return false;
        Advance([&](FileOperationProgress& progress) {
            progress.filesDone = i;
            progress.bytesDone = bytesBefore;
            progress.current = sources[i];
        });
        return true;
    };
    auto done = [&](size_t i) {
        bytesBefore += sizes[i];
        Advance([&](FileOperationProgress& progress) {
            progress.filesDone = i + 1;
            progress.bytesDone = bytesBefore;
        });
    };

    bool ok = true;
    switch (m_operation) {
        case FO_DELETE:
            if (m_flags & FOF_ALLOWUNDO) {
                for (size_t i = 0; i < sources.size(); ++i) {
                    if (!next(i))
                        return false;
                    if (const int error = MoveToTrash(sources[i]))
                        return failed(sources[i], ErrorOf(error));
                    done(i);
                }
                return true;
            } else {
                bool confirmed = false;
                ask([&] { confirmed = host.ConfirmPermanentDelete(sources); });
                if (!confirmed)
                    return false;
                for (size_t i = 0; i < sources.size(); ++i) {
                    if (!next(i))
                        return false;
                    std::error_code ec;
                    fs::remove_all(sources[i], ec);
                    if (ec)
                        return failed(sources[i], ec);
                    done(i);
                }
                return true;
            }
        case FO_RENAME: {
            if (!next(0))
                return false;
            const int error = RenameNoReplace(sources.front(), m_target);
            if (error != 0)
                return failed(sources.front(), ErrorOf(error));
            done(0);
            return true;
        }
        case FO_COPY:
        case FO_MOVE: {
            CopyObserver observer;
            observer.written = [&](uint64_t bytes) {
                Advance([&](FileOperationProgress& progress) { progress.bytesDone += bytes; });
            };
            observer.cancelled = [&] { return IsCancelled(); };
            for (size_t i = 0; i < sources.size(); ++i) {
                const std::string& p = sources[i];
                if (!next(i))
                    return false;
                // A folder into itself or below it: a copy would copy its own
                // copy again at every level, until the path grows too long.
                if (IsSameOrInside(m_target, p))
                    return failed(p, std::make_error_code(std::errc::invalid_argument));
                std::string name = FileNameOf(p);
                std::string dest = JoinedPath(m_target, name);
                std::error_code ec;
                if (fs::equivalent(p, dest, ec)) {
                    // Moving a file onto itself changes nothing; a copy gets a new name.
                    if (m_operation == FO_MOVE) {
                        ok = false;
                        done(i);
                        continue;
                    }
                    dest = JoinedPath(m_target, CollisionName(m_target, name));
                } else if (PathExists(dest)) {
                    bool replace = false;
                    if (!(m_flags & FOF_RENAMEONCOLLISION))
                        ask([&] { replace = host.ConfirmReplace(dest); });
                    if (m_flags & FOF_RENAMEONCOLLISION) {
                        dest = JoinedPath(m_target, CollisionName(m_target, name));
                    } else if (replace) {
                        // The replaced file goes to the trash, never lost outright.
                        if (const int error = MoveToTrash(dest))
                            return failed(dest, ErrorOf(error));
                    } else {
                        ok = false;
                        done(i);
                        continue;
                    }
                }
                ec = m_operation == FO_COPY ? CopyNoReplace(p, dest, &observer)
                                            : MoveNoReplace(p, dest, &observer);
                if (ec)
                    return failed(p, ec);
                done(i);
            }
            return ok;
        }
        default:
            return false;
    }
}

unsigned FileOperationFlags(unsigned operation, bool shiftHeld, bool flagA, bool flagB) {
    unsigned flags = (operation == FO_DELETE && shiftHeld) ? 0u : unsigned(FOF_ALLOWUNDO);
    if (flagB)
        flags |= flagA ? 0u : unsigned(FOF_RENAMEONCOLLISION);
    else
        flags |= flagA ? unsigned(FOF_NOERRORUI) : unsigned(FOF_NOERRORUI | FOF_RENAMEONCOLLISION);
    return flags;
}

bool RunFileOperation(unsigned operation, const std::vector<std::string>& paths, const std::string& target,
                      unsigned flags) {
    CFileOperationJob job(operation, paths, target, flags);
    return job.Run(BrowserHost());
}
