#include "UiServices.h"
#include "FrameEngineCallbacks.h"

#include <QCoreApplication>
#include <QWidget>

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
      m_receiver(std::make_unique<UpdateEventReceiver>(this)) {}

CFrameEngineCallbacks::~CFrameEngineCallbacks() {
    QCoreApplication::removePostedEvents(m_receiver.get());
    delete m_progress.data();
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
    if (m_progress)
        m_progress->Begin(m_frame);
}

void CFrameEngineCallbacks::BeginEx() {
    if (m_progress)
        m_progress->BeginEx(m_frame);
}

void CFrameEngineCallbacks::End() {
    if (m_progress)
        m_progress->End();
}

void CFrameEngineCallbacks::SetStage(int stageId, const std::wstring& name) {
    SetText(StageText(stageId, name).c_str());
}

void CFrameEngineCallbacks::SetStage(int stageId) {
    SetText(StageText(stageId, {}).c_str());
}

bool CFrameEngineCallbacks::SetProgress(int total, int position) {
    return m_progress ? m_progress->SetProgress(total, position) : false;
}

void CFrameEngineCallbacks::Show(bool hide) {
    if (m_progress) {
        m_progress->setVisible(!hide);
        if (!hide)
            m_progress->repaint();
    }
    RepaintNow();
}

void CFrameEngineCallbacks::SetText(const char* text) {
    if (m_progress)
        m_progress->SetText(QString::fromUtf8(text ? text : ""));
}

void CFrameEngineCallbacks::RepaintNow() {
    if (m_frame && m_frame->isVisible())
        m_frame->repaint();
}

void CFrameEngineCallbacks::ToggleView(bool fit) {
    if (onToggleView)
        onToggleView(fit);
}

int CFrameEngineCallbacks::MatchManually(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second,
                                         PanoramaLib::IManualMatcher* matcher) {
    if (!first || !second || !m_document)
        return 1;
    return m_document->MatchManually(first, second, matcher) ? 1 : 0;
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
    UiServices::RunMessageBox(m_frame, QString::fromUtf8(Res::LoadStr(stringId)), AppCaption(),
                              UiServices::MessageKind::Warning);
}

bool CFrameEngineCallbacks::AskAcceptPanorama(int unmatched, int total) {
    CDlgPromptAcceptPanorama prompt(m_frame, unmatched, total);
    return prompt.exec() == CDlgPromptBase::kIdYes;
}

bool CFrameEngineCallbacks::WarnCyclorama() {
    CDlgWarningCyclorama prompt(m_frame);
    return prompt.exec() == CDlgPromptBase::kIdYes;
}

bool CFrameEngineCallbacks::IsPrinterSelected() {
    return isPrinterSelected ? isPrinterSelected() : false;
}

void CFrameEngineCallbacks::MarkFiles(const std::list<std::wstring>& fileNames, bool mark) {
    if (!m_marker)
        return;
    std::vector<std::string> paths;
    for (const std::wstring& name : fileNames)
        paths.push_back(Platform::Utf8FromWide(name));
    m_marker->MarkPhotos(paths, mark);
}
