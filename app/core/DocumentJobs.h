#pragma once
// The document's long runs (loading the photos, a build, a full-size render,
// writing the full-size result), one at a time. A run is asked for on the
// user-interface thread; its work goes to a worker thread and its end, which
// takes the result in, comes back to the user-interface thread as a queued
// call, so the event loop goes on meanwhile. What is asked for while a run is under way waits its turn: it
// never reaches the engines in the middle of a run. Without threading (a
// document no window shows) the work runs at once on the calling thread.

#include <QObject>
#include <atomic>
#include <deque>
#include <functional>
#include <thread>

enum class JobKind { Load, Build, Render, Save };

class CDocumentJobs : public QObject {
    Q_OBJECT
public:
    explicit CDocumentJobs(QObject* parent = nullptr);
    // Waits for the work under way; its end is not carried out.
    ~CDocumentJobs() override;
    CDocumentJobs(const CDocumentJobs&) = delete;
    CDocumentJobs& operator=(const CDocumentJobs&) = delete;

    void SetThreaded(bool threaded) { m_threaded = threaded; }
    bool IsThreaded() const { return m_threaded; }

    // Carries out step now when nothing runs, else after the runs before it.
    void Queue(std::function<void()> step);
    // A run: work off the user-interface thread, then done on it. Refused
    // (false) while another run is under way; a step queued meanwhile comes
    // after done.
    bool Run(JobKind kind, std::function<void()> work, std::function<void()> done);
    // Waits for the work under way and drops its end and what waits: the
    // document the runs work for is going. Runs can start again afterwards.
    void Abandon();
    // A run is under way (its work or its end).
    bool IsRunning() const { return m_running; }
    // Nothing runs and nothing waits.
    bool IsIdle() const { return !m_running && m_pending.empty() && !m_draining; }

signals:
    void jobStarted(JobKind kind);
    void jobFinished(JobKind kind);
    // The last run ended with nothing waiting.
    void idle();

private:
    void Finish();
    void Drain();

    bool m_threaded = false;
    bool m_running = false;
    bool m_draining = false;
    JobKind m_kind = JobKind::Build;
    // Counts the abandons, so an abandoned run's end is told from the next run's.
    unsigned m_generation = 0;
    std::function<void()> m_done;
    std::deque<std::function<void()>> m_pending;
    std::thread m_worker;
};
