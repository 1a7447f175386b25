#include "DocumentJobs.h"

#include <utility>

CDocumentJobs::CDocumentJobs(QObject* parent) : QObject(parent) {}

CDocumentJobs::~CDocumentJobs() {
    Abandon();
}

void CDocumentJobs::Abandon() {
    if (m_worker.joinable())
        m_worker.join();
    m_pending.clear();
    m_done = nullptr;
    // The abandoned run's end may be on its way already: it finds a newer
    // generation and does nothing.
    ++m_generation;
    m_running = false;
}

void CDocumentJobs::Queue(std::function<void()> step) {
    if (!step)
        return;
    m_pending.push_back(std::move(step));
    Drain();
}

void CDocumentJobs::Drain() {
    if (m_draining)
        return;
    m_draining = true;
    while (!m_running && !m_pending.empty()) {
        std::function<void()> step = std::move(m_pending.front());
        m_pending.pop_front();
        step();
    }
    m_draining = false;
    if (IsIdle())
        emit idle();
}

bool CDocumentJobs::Run(JobKind kind, std::function<void()> work, std::function<void()> done) {
    if (m_running)
        return false;
    m_running = true;
    m_kind = kind;
    m_done = std::move(done);
    emit jobStarted(kind);
    if (!m_threaded) {
        if (work)
            work();
        Finish();
        return true;
    }
    m_worker = std::thread([this, work = std::move(work), generation = m_generation] {
        if (work)
            work();
        // Back to the user-interface thread; dropped with this object.
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == m_generation)
                    Finish();
            },
            Qt::QueuedConnection);
    });
    return true;
}

void CDocumentJobs::Finish() {
    if (m_worker.joinable())
        m_worker.join();
    std::function<void()> done = std::move(m_done);
    m_done = nullptr;
    m_running = false;
    const JobKind kind = m_kind;
    if (done)
        done();
    emit jobFinished(kind);
    Drain();
}
