#pragma once
// The one-line editor over a thumbnail's caption that renames the photo: it
// edits the name without folder and extension, renames the file on Return or
// when it loses the focus, does nothing on Escape, and then removes itself
// with the small host frame the browser placed it in.

#include <QLineEdit>
#include <QPointer>

#include <atomic>
#include <string>

class CThumbsBrowser;

// Non-zero while an in-place editor of the browser or the folder tree is
// open; the main window then lets keys reach the editor.
extern std::atomic<int> g_bLabelEditing;

class CPopupEdit : public QLineEdit {
    Q_OBJECT
public:
    // Created as the child of host (the frame named "Popup"); host is
    // deleted with the editor.
    CPopupEdit(CThumbsBrowser* browser, QWidget* host);
    ~CPopupEdit() override;

    // The file being renamed.
    std::string m_path;
    // Set to 1 while the editor exists (the browser points it at g_bLabelEditing).
    std::atomic<int>* m_pEditing = &g_bLabelEditing;

    // Renames the file to the text (unless it is the old name in any case),
    // then removes the editor. Nothing after the first commit or cancel.
    void Commit();
    void Cancel();
    bool IsDone() const { return m_bDone; }
    // The browser goes: the editor ends without renaming.
    void Detach() { m_pBrowser = nullptr; }

protected:
    // Every key goes to the editor while it is open, none to the window's shortcuts.
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Close();

    CThumbsBrowser* m_pBrowser;
    bool m_bDone = false;
};
