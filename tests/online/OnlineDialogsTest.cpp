#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CDlgFilesToUpload.h"
#include "CDlgNetPrintLogin.h"
#include "CUpdateDlg.h"
#include "Screenshot.h"
#include "TestData.h"
#include "UiServices.h"

using NetPrint::PhotoUpload::CDlgFilesToUpload;
using NetPrint::PhotoUpload::CDlgNetPrintLogin;
using NetPrint::PhotoUpload::CPreviewFrame;

namespace {

template <typename T>
T* Control(QWidget* dialog, int id) {
    return dialog->findChild<T*>(QString::number(id));
}

// Collects the messages and the opened pages instead of showing them.
class ServicesLog {
public:
    ServicesLog() {
        UiServices::SetMessageHandler([this](QWidget*, const QString& text, const QString&) {
            messages.push_back(text.toStdString());
        });
        UiServices::SetUrlHandler([this](const QString& url) { urls.push_back(url.toStdString()); });
    }
    ~ServicesLog() {
        UiServices::SetMessageHandler({});
        UiServices::SetUrlHandler({});
    }
    std::vector<std::string> messages, urls;
};

// Three pending panoramas: a wide, a tall and an unreadable one.
std::vector<std::string> MakeFiles(const TestData::ScratchDir& scratch) {
    QImage wide(600, 120, QImage::Format_RGB32);
    wide.fill(QColor(40, 110, 190));
    wide.save(QString::fromStdString(scratch / "Panorama1.jpg"));
    QImage tall(100, 300, QImage::Format_RGB32);
    tall.fill(QColor(200, 120, 40));
    tall.save(QString::fromStdString(scratch / "Panorama2.jpg"));
    std::ofstream(scratch / "Panorama3.jpg") << "not a picture";
    return {scratch / "Panorama1.jpg", scratch / "Panorama2.jpg", scratch / "Panorama3.jpg"};
}

}  // namespace

TEST(FilesToUploadDialog, ListsChecksAndReturnsTheChoice) {
    TestData::ScratchDir scratch;
    ServicesLog services;
    const std::vector<std::string> all = MakeFiles(scratch);
    std::vector<std::string> files = all;
    CDlgFilesToUpload dialog(files);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Files To Upload");
    EXPECT_TRUE(Control<QLabel>(&dialog, 1004)->text().startsWith("3 panorama(s)"));
    QTreeWidget* tree = Control<QTreeWidget>(&dialog, 1092);
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(tree->topLevelItem(i)->checkState(0), Qt::Checked);
    EXPECT_TRUE(tree->topLevelItem(0)->text(0).startsWith("Panorama1, created: "))
        << tree->topLevelItem(0)->text(0).toStdString();

    // Selecting an item shows its picture; an unreadable file shows none.
    tree->setCurrentItem(tree->topLevelItem(0));
    EXPECT_EQ(dialog.Preview()->Image().size(), QSize(600, 120));
    SaveScreenshot(&dialog, "online_files_to_upload");
    tree->setCurrentItem(tree->topLevelItem(2));
    EXPECT_TRUE(dialog.Preview()->Image().isNull());

    // Nothing checked: a message, and the dialog stays.
    for (int i = 0; i < 3; ++i)
        tree->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
    Control<QPushButton>(&dialog, 1)->click();
    EXPECT_EQ(services.messages, (std::vector<std::string>{"Please select files to upload!"}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(files, all);

    // Upload keeps the checked files in order.
    tree->topLevelItem(0)->setCheckState(0, Qt::Checked);
    tree->topLevelItem(2)->setCheckState(0, Qt::Checked);
    Control<QPushButton>(&dialog, 1)->click();
    EXPECT_EQ(dialog.result(), 1);
    EXPECT_EQ(files, (std::vector<std::string>{all[0], all[2]}));

    std::vector<std::string> again = all;
    CDlgFilesToUpload second(again);
    second.show();
    Control<QPushButton>(&second, 1087)->click();
    EXPECT_EQ(second.result(), 1087);
    EXPECT_EQ(again, all);
    CDlgFilesToUpload third(again);
    third.show();
    Control<QPushButton>(&third, 2)->click();
    EXPECT_EQ(third.result(), 2);
}

TEST(FilesToUploadDialog, PreviewKeepsProportionsAndCentres) {
    struct Case {
        QSize picture;
        QRect frame, expected;
    };
    const Case cases[] = {
        {{600, 120}, {0, 0, 200, 100}, {0, 30, 200, 40}},  // wide: centred vertically
        {{100, 300}, {0, 0, 200, 150}, {75, 0, 50, 150}},  // tall: centred horizontally
        {{50, 25}, {10, 10, 100, 50}, {10, 10, 100, 50}},  // same proportions: filled
        {{0, 0}, {0, 0, 100, 100}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CPreviewFrame::FitRect(c.picture, c.frame), c.expected) << c.picture.width();
}

TEST(NetPrintLoginDialog, OkOnlyWithBothValuesAndThePasswordMasked) {
    ServicesLog services;
    CDlgNetPrintLogin dialog;
    dialog.m_strLogin = "alice";
    dialog.OnInitDialog();
    dialog.show();
    auto* login = Control<QLineEdit>(&dialog, 1081);
    auto* password = Control<QLineEdit>(&dialog, 1082);
    EXPECT_EQ(login->text(), "alice");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    const QString intro = Control<QLabel>(&dialog, 1089)->text();
    EXPECT_TRUE(intro.startsWith("Uploading requires ") && intro.endsWith(".")) << intro.toStdString();
    EXPECT_FALSE(dialog.OkButton()->isEnabled());
    password->setText("s3cret");
    EXPECT_TRUE(dialog.OkButton()->isEnabled());
    SaveScreenshot(&dialog, "online_netprint_login");
    // The whole sentence fits its label.
    QLabel* introLabel = Control<QLabel>(&dialog, 1089);
    EXPECT_GE(introLabel->height(), introLabel->heightForWidth(introLabel->width()));
    login->clear();
    EXPECT_FALSE(dialog.OkButton()->isEnabled());
    login->setText("bob");
    Control<QPushButton>(&dialog, 1083)->click();
    EXPECT_EQ(services.urls.size(), 1u);
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.result(), 1);
    EXPECT_EQ(dialog.m_strLogin, "bob");
    EXPECT_EQ(dialog.m_strPassword, "s3cret");
}

TEST(UpdateDialog, ShowsTheRecord) {
    ServicesLog services;
    CUpdateCheck::Result critical;
    critical.status = 2;
    critical.message40 = "short";
    critical.message80 = "Version 2.2 mends the JPEG export";
    critical.updateurl = "http://update.example/get";
    critical.moreinfourl = "http://update.example/more";
    CUpdateDlg dialog(critical);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Updates");
    EXPECT_EQ(dialog.Text()->text(), "Critical updates are available for your version of software");
    EXPECT_EQ(dialog.Info()->toPlainText(), "Version 2.2 mends the JPEG export");
    EXPECT_TRUE(dialog.MoreInfoButton()->isVisible());
    SaveScreenshot(&dialog, "online_updates");
    dialog.MoreInfoButton()->click();
    Control<QPushButton>(&dialog, 1)->click();
    EXPECT_EQ(services.urls, (std::vector<std::string>{critical.moreinfourl, critical.updateurl}));

    CUpdateCheck::Result plain;
    plain.status = 1;
    plain.message40 = "short";
    plain.updateurl = "file:///etc/passwd";
    CUpdateDlg second(plain);
    second.show();
    EXPECT_EQ(second.Text()->text(), "Updates are available for your version of software.");
    EXPECT_EQ(second.Info()->toPlainText(), "short");
    EXPECT_FALSE(second.MoreInfoButton()->isVisible());
    Control<QPushButton>(&second, 1)->click();
    // Only web pages are opened.
    EXPECT_EQ(services.urls.size(), 2u);
}
