// The program's message boxes: the icon says what kind of message it is, and
// a box with a short text is still wide enough for its whole title.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>

#include "NetPrintUploadHost.h"
#include "Screenshot.h"
#include "UiServices.h"

TEST(MessageBoxes, IconByKindAndTheWholeTitle) {
    UiServices::SetMessageHandler(nullptr);
    QWidget owner;
    owner.setWindowTitle(QStringLiteral("ORVEX Horizel"));
    owner.resize(400, 300);
    owner.show();
    CNetPrintUploadHost upload(&owner, nullptr);
    using Kind = NetPrint::IUploadHost::MessageKind;
    const struct {
        const char* what;
        std::function<void()> show;
        QMessageBox::Icon icon;
        QString title;
    } cases[] = {
        {"uploaded", [&] { upload.ShowMessage("1 file(s) successfully uploaded.", Kind::Information); },
         QMessageBox::Information, QString()},
        {"login incorrect", [&] { upload.ShowMessage("Login incorrect", Kind::Warning); }, QMessageBox::Warning,
         QString()},
        {"no connection", [&] { upload.ShowMessage("No Connection", Kind::Error); }, QMessageBox::Critical,
         QString()},
        {"no updates",
         [&] {
             UiServices::ShowMessage(&owner, "No updates found!", "ORVEX Horizel",
                                     UiServices::MessageKind::Information);
         },
         QMessageBox::Information, QStringLiteral("ORVEX Horizel")},
        {"a failure", [&] { UiServices::ShowMessage(&owner, "x", "ORVEX Horizel - a long window title"); },
         QMessageBox::Warning, QStringLiteral("ORVEX Horizel - a long window title")},
    };
    for (const auto& c : cases) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box) << c.what;
            seen = true;
            EXPECT_EQ(box->icon(), c.icon) << c.what;
            const QString title = c.title.isEmpty() ? QApplication::applicationDisplayName() : c.title;
            EXPECT_EQ(box->windowTitle(), c.title) << c.what;
            EXPECT_GT(box->width(), QFontMetrics(box->font()).horizontalAdvance(title) + 100) << c.what;
            SaveScreenshot(box, QStringLiteral("message_box_%1").arg(QString(c.what).replace(' ', '_')));
            box->accept();
        });
        c.show();
        EXPECT_TRUE(seen) << c.what;
    }
}
