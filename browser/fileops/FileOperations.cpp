#include "FileOperations.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "BrowserHost.h"

namespace {

std::atomic<int> g_progressDelayMs{300};
// How often the user-interface thread looks at a running job. The job never
// calls into Qt itself: what it has to say waits in its state, under a lock,
// until the next look.
constexpr int kLookMs = 10;

struct RunningJob {
    std::shared_ptr<CFileOperationJob> job;
    std::function<void(bool)> finished;
    IBrowserHost* host = nullptr;
    std::unique_ptr<QTimer> look;
    std::unique_ptr<QTimer> showTimer;
    // Called once the progress window shows the job.
    std::function<void()> onShown;
    std::thread thread;
    bool shown = false;
    bool ended = false;
    bool asking = false;
    // Calls of the look or the show on the stack: a host that handles
    // events meanwhile may bring a nested look, which must not end the job
    // under them.
    int busy = 0;

    // Shared with the job's thread.
    std::mutex lock;
    std::condition_variable answered;
    const std::function<void()>* question = nullptr;
    bool progressed = false;
    bool done = false;
    bool result = false;
};

// The jobs that run; touched on the user-interface thread only. At exit
// a job still running is cancelled and awaited.
class JobList {
public:
    ~JobList() {
        for (RunningJob& running : m_jobs) {
            running.job->Cancel();
            if (running.thread.joinable())
                running.thread.join();
        }
    }
    RunningJob& Add() { return m_jobs.emplace_back(); }
    void Remove(RunningJob* running) {
        m_jobs.remove_if([running](const RunningJob& r) { return &r == running; });
    }

private:
    std::list<RunningJob> m_jobs;
};

JobList& Jobs() {
    static JobList jobs;
    return jobs;
}

bool OnUserInterfaceThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void ShowProgress(RunningJob& running) {
    if (running.shown && !running.ended && running.host->FileOperationProgressed(running.job->Progress()))
        running.job->Cancel();
}

void Finish(RunningJob* running) {
    running->thread.join();
    running->ended = true;
    running->showTimer.reset();
    // Finish runs inside the look timer's own call: it goes once that has returned.
    running->look->stop();
    running->look.release()->deleteLater();
    if (running->shown)
        running->host->EndFileOperation();
    const bool ok = running->result;
    std::function<void(bool)> finished = std::move(running->finished);
    Jobs().Remove(running);
    if (finished)
        finished(ok);
}

// The user-interface thread's look at the job: a question to answer, new
// progress to show, or its end.
void Look(RunningJob* running) {
    ++running->busy;
    const std::function<void()>* question = nullptr;
    bool progressed = false;
    bool done = false;
    {
        std::lock_guard<std::mutex> lock(running->lock);
        question = running->question;
        std::swap(progressed, running->progressed);
        done = running->done;
    }
    if (progressed)
        ShowProgress(*running);
    if (question) {
        // A question may open a window with its own event loop: no second
        // look answers it meanwhile.
        running->look->stop();
        running->asking = true;
        (*question)();
        running->asking = false;
        {
            std::lock_guard<std::mutex> lock(running->lock);
            running->question = nullptr;
        }
        running->answered.notify_all();
        running->look->start();
    }
    if (--running->busy == 0 && done)
        Finish(running);
}

void Start(std::shared_ptr<CFileOperationJob> job, std::function<void(bool ok)> finished,
           std::function<void()> onShown) {
    RunningJob& running = Jobs().Add();
    RunningJob* const state = &running;
    running.onShown = std::move(onShown);
    running.job = std::move(job);
    running.finished = std::move(finished);
    running.host = &BrowserHost();
    running.showTimer = std::make_unique<QTimer>();
    running.showTimer->setSingleShot(true);
    QObject::connect(running.showTimer.get(), &QTimer::timeout, [state] {
        // Not over a question's window: once it has been answered.
        if (state->asking) {
            state->showTimer->start(kLookMs);
            return;
        }
        ++state->busy;
        state->shown = true;
        state->host->BeginFileOperation(state->job->Operation());
        ShowProgress(*state);
        --state->busy;
        if (state->onShown)
            state->onShown();
    });
    running.showTimer->start(g_progressDelayMs.load());
    running.look = std::make_unique<QTimer>();
    QObject::connect(running.look.get(), &QTimer::timeout, [state] { Look(state); });
    running.look->start(kLookMs);
    running.job->onProgress = [state] {
        std::lock_guard<std::mutex> lock(state->lock);
        state->progressed = true;
    };
    CFileOperationJob::Asker ask = [state](const std::function<void()>& call) {
        std::unique_lock<std::mutex> lock(state->lock);
        state->question = &call;
        state->answered.wait(lock, [state] { return state->question == nullptr; });
    };
    running.thread = std::thread([state, ask] {
        const bool ok = state->job->Run(*state->host, ask);
        std::lock_guard<std::mutex> lock(state->lock);
        state->result = ok;
        state->done = true;
    });
}

}  // namespace

void SetFileOperationProgressDelay(int milliseconds) {
    g_progressDelayMs = std::max(0, milliseconds);
}

void StartFileOperation(std::shared_ptr<CFileOperationJob> job, std::function<void(bool ok)> finished) {
    if (!OnUserInterfaceThread()) {
        const bool ok = job->Run(BrowserHost());
        if (finished)
            finished(ok);
        return;
    }
    Start(std::move(job), std::move(finished), {});
}

bool WaitForFileOperation(std::shared_ptr<CFileOperationJob> job) {
    if (!OnUserInterfaceThread())
        return job->Run(BrowserHost());
    std::shared_ptr<CFileOperationJob> held = job;
    bool ended = false;
    bool result = false;
    bool shown = false;
    bool reopen = false;
    QEventLoop loop;
    Start(
        std::move(job),
        [&](bool ok) {
            ended = true;
            result = ok;
            loop.quit();
        },
        [&] {
            shown = true;
            reopen = true;
            loop.quit();
        });
    // Until the progress window shows, input waits for the job's end (or
    // for the window); then the window takes it, Cancel included.
    while (!ended) {
        reopen = false;
        loop.exec(shown ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        if (!ended && !reopen)
            break;
    }
    if (!ended) {
        // The event loop was told to end (the application quits): the job
        // stops after the file in hand.
        held->Cancel();
        while (!ended)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return result;
}

bool ShellRenameFile(const std::string& oldPath, std::string& newName) {
    if (newName.empty())
        return false;
    const size_t slash = oldPath.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : oldPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? oldPath : oldPath.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    if (newName.find_first_of(std::string("/\0", 2)) != std::string::npos || newName == "." ||
        newName == "..") {
        // Not a name of this folder: said so, like any other failed rename.
        BrowserHost().ReportFileOperationError(oldPath,
                                               std::make_error_code(std::errc::invalid_argument).message());
        return false;
    }
    newName = folder + newName + ext;
    return RunFileOperation(FO_RENAME, {oldPath}, newName, FOF_ALLOWUNDO);
}

bool ShellFileOperation(unsigned operation, const std::vector<std::string>& paths, const std::string& target,
                        bool flagA, bool flagB) {
    const bool shift = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
                       (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier);
    const unsigned flags = FileOperationFlags(operation, shift, flagA, flagB);
    QPointer<QWidget> focus =
        qobject_cast<QApplication*>(QCoreApplication::instance()) ? QApplication::focusWidget() : nullptr;
    IBrowserHost& host = BrowserHost();
    host.EnableBrowserWindows(false);
    const bool ok =
        WaitForFileOperation(std::make_shared<CFileOperationJob>(operation, paths, target, flags));
    host.EnableBrowserWindows(true);
    if (focus)
        focus->setFocus();
    return ok;
}
