#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "CDlgPrompts.h"
#include "DocTestSupport.h"
#include "DocumentDialogs.h"
#include "Screenshot.h"

namespace {

// Runs the change prompt, answering with a click on a button (or Escape).
int Answer(const char* button, bool tickDontShow) {
    CDlgAboutToChangeMessage prompt(nullptr);
    QTimer::singleShot(0, &prompt, [&] {
        if (tickDontShow)
            prompt.DontShowAgain()->setChecked(true);
        if (button)
            QTest::mouseClick(prompt.findChild<QPushButton*>(button), Qt::LeftButton);
        else
            QTest::keyClick(&prompt, Qt::Key_Escape);
    });
    return prompt.DoModal();
}

int DontShow() {
    return AppProfile::GetProfileInt("GENERAL", "DNTSHOW_ABOUTPHOTOLIST", 0);
}

}  // namespace

TEST(CDlgAboutToChangeMessage, AnswersAndTheDontShowAgainChoice) {
    TestDoubles::DocEnvironment env;
    EXPECT_EQ(Answer("6", false), 6);
    EXPECT_EQ(Answer("7", false), 7);
    EXPECT_EQ(Answer(nullptr, true), 2);  // Escape: IDCANCEL, nothing stored
    EXPECT_EQ(DontShow(), 0);
    EXPECT_EQ(Answer("7", true), 7);  // stored even with No
    EXPECT_EQ(DontShow(), 1);
}

TEST(CDlgAboutToChangeMessage, LooksLikeTheProgramsPrompts) {
    CDlgAboutToChangeMessage prompt(nullptr);
    prompt.show();
    EXPECT_EQ(prompt.windowTitle(), "ORVEX Horizel");
    EXPECT_FALSE(prompt.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(prompt.findChild<QLabel*>("1004")->text().toStdString(),
              "You are about to change the list of source photos.\n The resulting panorama will be "
              "recalculated.\n Continue with modification of the list?");
    EXPECT_EQ(prompt.findChild<QCheckBox*>("1030")->text(), "Don't show this message more");
    EXPECT_EQ(prompt.findChild<QPushButton*>("6")->text(), "&Yes");
    EXPECT_EQ(prompt.findChild<QPushButton*>("7")->text(), "&No");
    SaveScreenshot(&prompt, "change-prompt");
}

TEST(CDocumentDialogs, EscapeInTheChangePromptKeepsThePhotoList) {
    TestDoubles::DocEnvironment env;
    CDocumentDialogs dialogs(nullptr);
    QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
    EXPECT_EQ(dialogs.AskAboutToChange("text"), DocResult::kCancel);
    QTimer::singleShot(0, [] {
        QTest::mouseClick(QApplication::activeModalWidget()->findChild<QPushButton*>("7"), Qt::LeftButton);
    });
    EXPECT_EQ(dialogs.AskAboutToChange("text"), DocResult::kNo);
}
