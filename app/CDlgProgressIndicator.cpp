#include "CDlgProgressIndicator.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "CDlgPrompts.h"

CDlgProgressIndicator::CDlgProgressIndicator(QWidget* parent) : QDialog(parent) {
    setObjectName("151");
    setWindowTitle(AppCaption());
    setWindowModality(Qt::ApplicationModal);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    m_text = new QLabel(this);
    m_text->setObjectName("1004");
    m_text->setTextFormat(Qt::PlainText);
    m_text->setMinimumWidth(320);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName("1005");
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName("2");
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, &CDlgProgressIndicator::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(m_bar);
    layout->addLayout(buttons);
    adjustSize();
}

CDlgProgressIndicator::~CDlgProgressIndicator() {
    if (m_running)
        qApp->removeEventFilter(this);
}

void CDlgProgressIndicator::Begin(QWidget* centreOver) {
    StartRun(centreOver);
}

void CDlgProgressIndicator::BeginEx(QWidget* centreOver) {
    m_hideCancel = true;
    StartRun(centreOver);
}

void CDlgProgressIndicator::StartRun(QWidget* centreOver) {
    if (!m_running) {
        m_running = true;
        qApp->installEventFilter(this);
    }
    if (centreOver) {
        const QRect client = centreOver->rect();
        const QPoint topLeft = centreOver->mapToGlobal(QPoint(
            (client.left() + client.right() - width()) / 2, (client.top() + client.bottom() - height()) / 2));
        move(topLeft);
    }
    SetProgress(0, 0);
    show();
    repaint();
}

void CDlgProgressIndicator::End() {
    m_cancel->setVisible(true);
    m_hideCancel = false;
    m_cancelled = false;
    hide();
    if (m_running) {
        m_running = false;
        qApp->removeEventFilter(this);
    }
    if (m_quitDeferred) {
        m_quitDeferred = false;
        // Again once the engine has returned to the event loop.
        QTimer::singleShot(0, qApp, [quit = onDeferredQuit] { quit ? quit() : QCoreApplication::quit(); });
    }
}

bool CDlgProgressIndicator::SetProgress(int total, int position) {
    m_bar->setRange(0, total < 0 ? 0 : total);
    m_bar->setValue(position);
    return m_cancelled;
}

void CDlgProgressIndicator::SetText(const QString& text) {
    m_text->setText(text);
}

void CDlgProgressIndicator::reject() {
    m_cancelled = true;
}

void CDlgProgressIndicator::showEvent(QShowEvent* event) {
    m_cancel->setVisible(!m_hideCancel);
    QDialog::showEvent(event);
    m_cancelled = false;
}

void CDlgProgressIndicator::hideEvent(QHideEvent* event) {
    m_cancelled = false;
    QDialog::hideEvent(event);
}

void CDlgProgressIndicator::closeEvent(QCloseEvent* event) {
    // Closing the window during a run asks to cancel it; the engine ends the run.
    if (isVisible()) {
        event->ignore();
        if (!m_hideCancel)
            m_cancelled = true;
        return;
    }
    QDialog::closeEvent(event);
}

bool CDlgProgressIndicator::eventFilter(QObject* watched, QEvent* event) {
    // The engine is inside its work on this thread: quitting now would pull
    // the windows from under it. Hold the request until the run ends.
    if (m_running && watched == qApp && event->type() == QEvent::Quit) {
        m_quitDeferred = true;
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
