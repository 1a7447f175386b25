#include "ToolDlgParent.h"

#include <QScrollBar>

#include "SkinAccess.h"

CToolDlgParent::CToolDlgParent(QWidget* parent) : QScrollArea(parent) {
    setWidgetResizable(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setSingleStep(kLineStep);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Skin::DialogBackground());
    setPalette(pal);
    setBackgroundRole(QPalette::Window);
}

void CToolDlgParent::SetDialog(QWidget* page) {
    setWidget(page);
    if (page)
        page->show();
}

int CToolDlgParent::LastPosition(int max, int page) {
    return std::max(0, max - page + 1);
}

CBrowserTreeBar::CBrowserTreeBar(const QString& title, QWidget* parent)
    : CSizingControlBarCF(title, kId, parent) {}

void CBrowserTreeBar::SetTree(QWidget* tree) {
    tree_ = tree;
    if (tree)
        tree->setObjectName(QString::number(kTreeId));
    setWidget(tree);
}

void CBrowserTreeBar::ShowCurrentFolder() {
    if (tree_)
        tree_->show();
    ShowCloseButton(false);
}
