#pragma once
// The progress window of a long engine run (stitching, loading photos). It is
// application-modal while shown, so the rest of the program takes no input,
// yet prompts that the engine opens meanwhile do. The run works on a worker
// thread and the event loop goes on: SetProgress shows a position and
// answers whether the user pressed Cancel (or Escape), a flag the worker may
// read at any time; the window stays until the run ends. A request to quit
// during a run is held back and carried out at its end.
// A plain dialog, not skinned, like the prompts.

#include <QDialog>
#include <atomic>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

class CDlgProgressIndicator : public QDialog {
    Q_OBJECT
public:
    explicit CDlgProgressIndicator(QWidget* parent = nullptr);
    ~CDlgProgressIndicator() override;

    // Shows the window centred over the client area of the given widget
    // (none: where it is), with the bar at 0. BeginEx: without Cancel.
    void Begin(QWidget* centreOver);
    void BeginEx(QWidget* centreOver);
    // Ends the run: hides the window, shows Cancel again, clears the flags,
    // and quits now when a quit came during the run.
    void End();
    // Range 0..total (the full int range) and the position; true when the
    // user asked to cancel.
    bool SetProgress(int total, int position);
    void SetText(const QString& text);

    bool IsCancelled() const { return m_cancelled; }
    bool IsRunning() const { return m_running; }
    bool IsQuitDeferred() const { return m_quitDeferred; }
    QLabel* TextControl() const { return m_text; }
    QProgressBar* Bar() const { return m_bar; }
    QPushButton* CancelButton() const { return m_cancel; }

    // What carries out a quit held back during a run (by default the
    // application's quit).
    std::function<void()> onDeferredQuit;

    // Cancel and Escape set the flag; the window stays open.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void StartRun(QWidget* centreOver);

    QLabel* m_text;
    QProgressBar* m_bar;
    QPushButton* m_cancel;
    std::atomic<bool> m_cancelled{false};
    bool m_hideCancel = false;
    bool m_running = false;
    bool m_quitDeferred = false;
};
