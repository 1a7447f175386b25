#pragma once
// The main frame's side of the engine callbacks: progress with stages in the
// progress window, the engines' prompts, marking photos in the photo strip,
// and the view update the tiled engine's render thread asks for. The frame
// owns one of these and hands it to the document; what belongs to other
// windows (the result view, the printer, the strip) comes in as hooks.
// The engines call it from the document's worker thread: every call then
// becomes a queued call on the user-interface thread, and a question (a
// prompt, manual matching) waits there for its answer. Progress only stores
// the position for the window and answers with the Cancel flag at once.

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CDlgProgressIndicator.h"
#include "EngineCallbacksEx.h"

class COvHorizelDoc;
class QWidget;

// The photo strip as the engines' callbacks see it.
class IPhotoMarker {
public:
    // mark: clear every mark, mark the listed paths and bring them into view;
    // !mark: clear the listed paths' marks. Both repaint.
    virtual void MarkPhotos(const std::vector<std::string>& paths, bool mark) = 0;
    virtual ~IPhotoMarker() = default;
};

// "WM_SR_UPDATEPANORAMAVIEW": posted from any thread with the engine's two values.
class CUpdatePanoramaViewEvent : public QEvent {
public:
    CUpdatePanoramaViewEvent(PanoramaLib::WPARAM w, PanoramaLib::LPARAM l)
        : QEvent(EventType()), wParam(w), lParam(l) {}
    static QEvent::Type EventType();
    PanoramaLib::WPARAM wParam;
    PanoramaLib::LPARAM lParam;
};

class CFrameEngineCallbacks : public IProgressIndicatorEx, public IUserInterfaceEx {
public:
    // frame: the main window, parent of the progress window and the prompts.
    explicit CFrameEngineCallbacks(QWidget* frame);
    ~CFrameEngineCallbacks() override;
    CFrameEngineCallbacks(const CFrameEngineCallbacks&) = delete;
    CFrameEngineCallbacks& operator=(const CFrameEngineCallbacks&) = delete;

    void SetDocument(COvHorizelDoc* document) { m_document = document; }
    void SetPhotoMarker(IPhotoMarker* marker) { m_marker = marker; }
    // The main view shows the document's current result (fit: fitted to the window).
    std::function<void(bool fit)> onToggleView;
    // The application's printer name is not empty.
    std::function<bool()> isPrinterSelected;

    CDlgProgressIndicator* ProgressWindow() const { return m_progress; }
    // The object the view updates are posted to (lives on the UI thread).
    QObject* UpdateReceiver() const { return m_receiver.get(); }
    // The text of a stage (empty for an unknown stage).
    static std::string StageText(int stageId, const std::wstring& name);

    // IProgressIndicatorEx
    void Begin() override;
    void BeginEx() override;
    void End() override;
    void SetStage(int stageId, const std::wstring& name) override;
    void SetStage(int stageId) override;
    bool SetProgress(int total, int position) override;
    void Show(bool hide) override;
    void SetText(const char* text) override;

    // IUserInterfaceEx
    void RepaintNow() override;
    void ToggleView(bool fit) override;
    int MatchManually(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second,
                      PanoramaLib::IManualMatcher* matcher) override;
    void AddFile(const std::wstring& fileName, bool mark) override;
    // The only slot that may be called from another thread: it only posts.
    void PostUpdateView(PanoramaLib::WPARAM a, PanoramaLib::LPARAM b) override;
    void ShowMessage(int stringId) override;
    bool AskAcceptPanorama(int unmatched, int total) override;
    bool WarnCyclorama() override;
    bool IsPrinterSelected() override;
    void MarkFiles(const std::list<std::wstring>& fileNames, bool mark) override;

    // The update handler: drops the updates still queued, then hands the
    // values of this one to the document.
    void OnUpdatePanoramaView(PanoramaLib::WPARAM w, PanoramaLib::LPARAM l);

    // The windows are going: a worker waiting for an answer gets the
    // answer of a closed prompt, and every later progress report cancels.
    void Abandon();

private:
    bool OnUiThread() const;
    // call on the user-interface thread: now when on it, else queued.
    void Post(std::function<void()> call);
    // call's answer from the user-interface thread; fallback once abandoned.
    template <class R>
    R Ask(std::function<R()> call, R fallback);
    void ShowPosition();

    QPointer<QWidget> m_frame;
    // A child of the frame; deleted here when the frame has not done it first.
    QPointer<CDlgProgressIndicator> m_progress;
    std::unique_ptr<QObject> m_receiver;
    // The window the workers read the Cancel flag of (it outlives every run).
    CDlgProgressIndicator* const m_window;
    COvHorizelDoc* m_document = nullptr;
    IPhotoMarker* m_marker = nullptr;
    std::atomic<bool> m_abandoned{false};
    // The latest position a worker reported, shown by one queued call.
    std::atomic<int> m_total{0};
    std::atomic<int> m_position{0};
    std::atomic<bool> m_positionPosted{false};
    // A worker's repaint request is queued and not yet carried out.
    std::atomic<bool> m_repaintPosted{false};
};
