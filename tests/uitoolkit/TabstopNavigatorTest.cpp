#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include "TabstopNavigator.h"

namespace {

struct Ring {
    Ring() { CTabstopNavigator::Create(); }
    ~Ring() { CTabstopNavigator::Destroy(); }
};

QWidget* Pane(QWidget* parent) {
    auto* w = new QLineEdit(parent);
    w->setFocusPolicy(Qt::StrongFocus);
    return w;
}

std::vector<QWidget*> Order() {
    std::vector<QWidget*> out;
    for (const auto& d : CTabstopNavigator::Instance()->Panes())
        out.push_back(d.pane);
    return out;
}

}  // namespace

TEST(TabstopNavigator, DoesNothingWithoutANavigator) {
    QWidget w;
    EXPECT_FALSE(CTabstopNavigator::AddWindow(&w, 1));
    EXPECT_FALSE(CTabstopNavigator::RemoveWindow(&w));
    EXPECT_EQ(CTabstopNavigator::GetNextPane(&w, false), nullptr);
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    EXPECT_FALSE(CTabstopNavigator::PreTranslateMessage(&w, &tab));
}

TEST(TabstopNavigator, KeepsPanesInOrderOfTheirPlace) {
    Ring ring;
    QWidget host;
    QWidget* a4 = Pane(&host);
    QWidget* b1 = Pane(&host);
    QWidget* c4 = Pane(&host);
    QWidget* dLast = Pane(&host);
    QWidget* e2 = Pane(&host);
    CTabstopNavigator::AddWindow(a4, 4);
    CTabstopNavigator::AddWindow(b1, 1);
    CTabstopNavigator::AddWindow(c4, 4);
    CTabstopNavigator::AddWindow(dLast, CTabstopNavigator::Last);
    CTabstopNavigator::AddWindow(e2, 2);
    EXPECT_TRUE(CTabstopNavigator::AddWindow(a4, 1)) << "a second registration keeps the first place";
    EXPECT_EQ(Order(), (std::vector<QWidget*>{b1, e2, a4, c4, dLast}));
    CTabstopNavigator::RemoveWindow(c4);
    EXPECT_EQ(Order(), (std::vector<QWidget*>{b1, e2, a4, dLast}));
}

TEST(TabstopNavigator, TabSkipsHiddenAndDisabledPanesAndWraps) {
    Ring ring;
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    std::vector<QWidget*> panes;
    for (int i = 0; i < 4; ++i) {
        panes.push_back(Pane(&host));
        layout->addWidget(panes.back());
        CTabstopNavigator::AddWindow(panes.back(), i + 1);
    }
    host.show();
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    panes[1]->hide();
    panes[2]->setEnabled(false);
    EXPECT_EQ(CTabstopNavigator::GetNextPane(panes[0], false), panes[3]);
    EXPECT_EQ(CTabstopNavigator::GetNextPane(panes[3], false), panes[0]) << "wraps at the end";
    EXPECT_EQ(CTabstopNavigator::GetNextPane(panes[0], true), panes[3]) << "wraps at the start";
    EXPECT_EQ(CTabstopNavigator::GetNextPane(panes[3], true), panes[0]);

    panes[0]->setFocus();
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    EXPECT_TRUE(CTabstopNavigator::PreTranslateMessage(panes[0], &tab));
    EXPECT_EQ(QApplication::focusWidget(), panes[3]);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier);
    EXPECT_FALSE(CTabstopNavigator::PreTranslateMessage(panes[3], &release));
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    EXPECT_FALSE(CTabstopNavigator::PreTranslateMessage(panes[3], &other));

    panes[3]->hide();
    EXPECT_FALSE(CTabstopNavigator::PreTranslateMessage(panes[0], &tab))
        << "one eligible pane: the key goes on";
}

TEST(TabstopNavigator, DialogLikePaneLeavesOnlyFromItsEnds) {
    Ring ring;
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    QWidget* before = Pane(&host);
    auto* page = new QWidget(&host);
    auto* pageLayout = new QVBoxLayout(page);
    QWidget* first = Pane(page);
    QWidget* middle = Pane(page);
    QWidget* last = Pane(page);
    for (QWidget* w : {first, middle, last})
        pageLayout->addWidget(w);
    QWidget* after = Pane(&host);
    for (QWidget* w : {before, page, after})
        layout->addWidget(w);
    CTabstopNavigator::AddWindow(before, 3);
    CTabstopNavigator::AddWindow(page, 4, true);
    CTabstopNavigator::AddWindow(after, 5);
    host.show();
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));

    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QKeyEvent backtab(QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier);
    middle->setFocus();
    EXPECT_FALSE(CTabstopNavigator::PreTranslateMessage(middle, &tab)) << "Tab moves inside the page";
    last->setFocus();
    EXPECT_TRUE(CTabstopNavigator::PreTranslateMessage(last, &tab));
    EXPECT_EQ(QApplication::focusWidget(), after);
    first->setFocus();
    EXPECT_TRUE(CTabstopNavigator::PreTranslateMessage(first, &backtab));
    EXPECT_EQ(QApplication::focusWidget(), before);
    // Entering the page gives the focus to a control, not the container.
    EXPECT_TRUE(CTabstopNavigator::PreTranslateMessage(before, &tab));
    EXPECT_TRUE(page->isAncestorOf(QApplication::focusWidget()));
}
