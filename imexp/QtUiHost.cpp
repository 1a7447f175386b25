#include "QtUiHost.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "ConverterSetupDialog.h"
#include "ImExpFileDialog.h"
#include "ImageInfoDialog.h"

namespace formgate {

namespace {

QWidget* Widget(void* owner) {
    return static_cast<QWidget*>(owner);
}

}  // namespace

bool QtUiHost::CanShowDialogs() {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    return app && !QCoreApplication::closingDown() && QThread::currentThread() == app->thread();
}

void QtUiHost::MessageBox(void* owner, const std::string& text, const std::string& caption, Icon icon) {
    if (!owner)
        return;
    const auto show = [owner, text, caption, icon] {
        QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::Warning,
                        QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                        Widget(owner));
        box.exec();
    };
    if (CanShowDialogs()) {
        show();
        return;
    }
    // A write on a worker thread: its error shows on the GUI thread once that
    // gets to it, without the worker waiting, and only while the owner lives.
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || QCoreApplication::closingDown())
        return;
    QMetaObject::invokeMethod(
        app,
        [owner, show] {
            if (!QCoreApplication::closingDown() && QApplication::allWidgets().contains(Widget(owner)))
                show();
        },
        Qt::QueuedConnection);
}

void QtUiHost::BeginWaitCursor() {
    if (!CanShowDialogs())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++cursorDepth_;
}

void QtUiHost::EndWaitCursor() {
    if (!CanShowDialogs() || cursorDepth_ == 0)
        return;
    QApplication::restoreOverrideCursor();
    --cursorDepth_;
}

int QtUiHost::RunOpenDialog(void* owner, OpenDialogRequest& request) {
    if (!CanShowDialogs())
        return -1;
    CImExpOpenDialog dialog(Widget(owner), request);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return 0;
    request.chosenPath = dialog.selectedFiles().front().toStdString();
    request.chosenFilter = dialog.ChosenFilter();
    return 1;
}

int QtUiHost::RunSaveDialog(void* owner, SaveDialogRequest& request) {
    if (!CanShowDialogs())
        return -1;
    CImExpSaveDialog dialog(Widget(owner), request);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return 0;
    request.chosenPath = dialog.selectedFiles().front().toStdString();
    request.chosenFilter = dialog.ChosenFilter();
    return 1;
}

int QtUiHost::SelectImage(void* owner, const std::string& fileTitle, int count,
                          const std::function<int(const std::string&)>& isValid) {
    if (!CanShowDialogs())
        return -1;
    CSelectImageDialog dialog(Widget(owner), fileTitle, count, isValid);
    return dialog.exec() == QDialog::Accepted ? dialog.Chosen() : -1;
}

int QtUiHost::ShowImageInfo(void* owner, const ImageInfoTexts& texts,
                            const std::function<void(void* dialog)>& details) {
    if (!CanShowDialogs())
        return 0;
    CImageInfoDialog dialog(Widget(owner), texts, details);
    dialog.exec();
    return 1;
}

int QtUiHost::ConfigureConverters(void* owner, ConverterSetupModel& model) {
    if (!CanShowDialogs())
        return 0;
    CConverterSetupDialog dialog(Widget(owner), model);
    dialog.exec();
    return 1;
}

QtUiHost& TheQtUiHost() {
    static QtUiHost host;
    return host;
}

}  // namespace formgate

formgate::UiHost* FormgateQtUiHost() {
    return &formgate::TheQtUiHost();
}
