#include "UiServices.h"
#include "FrameEngineCallbacks.h"

#include <QCoreApplication>
#include <QThread>
#include <QWidget>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "CDlgPrompts.h"
#include "COvHorizelDoc.h"
#include "DocText.h"
#include "StringTable.h"
#include "TextCodec.h"

namespace {

// Receives the posted view updates for the callbacks object.
class UpdateEventReceiver : public QObject {
public:
    explicit UpdateEventReceiver(CFrameEngineCallbacks* owner) : owner_(owner) {}
    bool event(QEvent* event) override {
        if (event->type() == CUpdatePanoramaViewEvent::EventType()) {
            auto* update = static_cast<CUpdatePanoramaViewEvent*>(event);
            owner_->OnUpdatePanoramaView(update->wParam, update->lParam);
            return true;
        }
        return QObject::event(event);
    }

private:
    CFrameEngineCallbacks* owner_;
};

}  // namespace

QEvent::Type CUpdatePanoramaViewEvent::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

CFrameEngineCallbacks::CFrameEngineCallbacks(QWidget* frame)
    : m_frame(frame),
      m_progress(new CDlgProgressIndicator(frame)),
      m_receiver(std::make_unique<UpdateEventReceiver>(this)),
      m_window(m_progress) {}

CFrameEngineCallbacks::~CFrameEngineCallbacks() {
    Abandon();
    QCoreApplication::removePostedEvents(m_receiver.get());
    delete m_progress.data();
}

void CFrameEngineCallbacks::Abandon() {
    m_abandoned = true;
}

bool CFrameEngineCallbacks::OnUiThread() const {
    return QThread::currentThread() == m_receiver->thread();
}

void CFrameEngineCallbacks::Post(std::function<void()> call) {
    if (OnUiThread())
        call();
    else
        QMetaObject::invokeMethod(m_receiver.get(), std::move(call), Qt::QueuedConnection);
}

template <class R>
R CFrameEngineCallbacks::Ask(std::function<R()> call, R fallback) {
    if (OnUiThread())
        return call();
    struct Answer {
        std::mutex mutex;
        std::condition_variable given;
        bool done = false;
        R value{};
    };
    auto answer = std::make_shared<Answer>();
    QMetaObject::invokeMethod(
        m_receiver.get(),
        [this, answer, call = std::move(call)] {
            if (m_abandoned)
                return;
            R value = call();
            std::lock_guard lock(answer->mutex);
            answer->value = value;
            answer->done = true;
            answer->given.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(answer->mutex);
    // The windows may go meanwhile (the program quits): the question then stays unasked.
    while (!answer->done) {
        if (m_abandoned)
            return fallback;
        answer->given.wait_for(lock, std::chrono::milliseconds(20));
    }
    return answer->value;
}

std::string CFrameEngineCallbacks::StageText(int stageId, const std::wstring& name) {
    unsigned id = 0;
    switch (stageId) {
        case PanoramaLib::StageAnalyzing:
            id = 203;
            break;
        case PanoramaLib::StageAnalyzingImage:
            id = name.empty() ? 203 : 204;
            break;
        case PanoramaLib::StageMatching:
            id = 205;
            break;
        case PanoramaLib::StageStitching:
            id = 206;
            break;
        case PanoramaLib::StageRendering:
            id = 207;
            break;
        default:
            return {};
    }
    if (name.empty())
        return Res::LoadStr(id);
    return DocText::Load(id, {Platform::Utf8FromWide(name)});
}

void CFrameEngineCallbacks::Begin() {
    Post([this] {
        if (m_progress)
            m_progress->Begin(m_frame);
    });
}

void CFrameEngineCallbacks::BeginEx() {
    Post([this] {
        if (m_progress)
            m_progress->BeginEx(m_frame);
    });
}

void CFrameEngineCallbacks::End() {
    Post([this] {
        if (m_progress)
            m_progress->End();
    });
}

void CFrameEngineCallbacks::SetStage(int stageId, const std::wstring& name) {
    SetText(StageText(stageId, name).c_str());
}

void CFrameEngineCallbacks::SetStage(int stageId) {
    SetText(StageText(stageId, {}).c_str());
}

bool CFrameEngineCallbacks::SetProgress(int total, int position) {
    if (OnUiThread())
        return m_progress ? m_progress->SetProgress(total, position) : false;
    if (m_abandoned)
        return true;
    m_total = total;
    m_position = position;
    // One queued call shows the latest position, however many came meanwhile.
    if (!m_positionPosted.exchange(true))
        QMetaObject::invokeMethod(m_receiver.get(), [this] { ShowPosition(); }, Qt::QueuedConnection);
    return m_window->IsCancelled();
}

void CFrameEngineCallbacks::ShowPosition() {
    m_positionPosted = false;
    if (m_progress)
        m_progress->SetProgress(m_total, m_position);
}

void CFrameEngineCallbacks::Show(bool hide) {
    Post([this, hide] {
        if (m_progress) {
            m_progress->setVisible(!hide);
            if (!hide)
                m_progress->repaint();
        }
        RepaintNow();
    });
}

void CFrameEngineCallbacks::SetText(const char* text) {
    Post([this, copy = QString::fromUtf8(text ? text : "")] {
        if (m_progress)
            m_progress->SetText(copy);
    });
}

void CFrameEngineCallbacks::RepaintNow() {
    if (OnUiThread()) {
        if (m_frame && m_frame->isVisible())
            m_frame->repaint();
        return;
    }
    // The matching asks for this per pair and per fit, hundreds of times a
    // build. Queued one by one, those paints held the window (and Cancel)
    // long after the work was done; the window paints by itself meanwhile,
    // so one queued update stands for all that came before it ran.
    if (m_abandoned || m_repaintPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        m_receiver.get(),
        [this] {
            m_repaintPosted = false;
            if (m_frame && m_frame->isVisible())
                m_frame->update();
        },
        Qt::QueuedConnection);
}

void CFrameEngineCallbacks::ToggleView(bool fit) {
    Post([this, fit] {
        if (onToggleView)
            onToggleView(fit);
    });
}

int CFrameEngineCallbacks::MatchManually(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second,
                                         PanoramaLib::IManualMatcher* matcher) {
    if (!first || !second)
        return 1;
    // Cancelled matching when the windows go.
    return Ask<int>(
        [this, first, second, matcher] {
            if (!m_document)
                return 1;
            return m_document->MatchManually(first, second, matcher) ? 1 : 0;
        },
        1);
}

void CFrameEngineCallbacks::AddFile(const std::wstring& fileName, bool mark) {
    MarkFiles({fileName}, mark);
}

void CFrameEngineCallbacks::PostUpdateView(PanoramaLib::WPARAM a, PanoramaLib::LPARAM b) {
    QCoreApplication::postEvent(m_receiver.get(), new CUpdatePanoramaViewEvent(a, b));
}

void CFrameEngineCallbacks::OnUpdatePanoramaView(PanoramaLib::WPARAM w, PanoramaLib::LPARAM l) {
    // A burst of renders collapses into one update, with the first one's values.
    QCoreApplication::removePostedEvents(m_receiver.get(), CUpdatePanoramaViewEvent::EventType());
    if (m_document)
        m_document->OnRenderUpdate(static_cast<int>(w), static_cast<int>(l));
}

void CFrameEngineCallbacks::ShowMessage(int stringId) {
    Ask<bool>(
        [this, stringId] {
            UiServices::RunMessageBox(m_frame, QString::fromUtf8(Res::LoadStr(stringId)), AppCaption(),
                                      UiServices::MessageKind::Warning);
            return true;
        },
        false);
}

bool CFrameEngineCallbacks::AskAcceptPanorama(int unmatched, int total) {
    return Ask<bool>(
        [this, unmatched, total] {
            CDlgPromptAcceptPanorama prompt(m_frame, unmatched, total);
            return prompt.exec() == CDlgPromptBase::kIdYes;
        },
        false);
}

bool CFrameEngineCallbacks::WarnCyclorama() {
    return Ask<bool>(
        [this] {
            CDlgWarningCyclorama prompt(m_frame);
            return prompt.exec() == CDlgPromptBase::kIdYes;
        },
        false);
}

bool CFrameEngineCallbacks::IsPrinterSelected() {
    return Ask<bool>([this] { return isPrinterSelected ? isPrinterSelected() : false; }, false);
}

void CFrameEngineCallbacks::MarkFiles(const std::list<std::wstring>& fileNames, bool mark) {
    std::vector<std::string> paths;
    for (const std::wstring& name : fileNames)
        paths.push_back(Platform::Utf8FromWide(name));
    Post([this, paths = std::move(paths), mark] {
        if (m_marker)
            m_marker->MarkPhotos(paths, mark);
    });
}
