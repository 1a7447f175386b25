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

void CBrowserTreeBar::SetTree(QWidget* tree, IFolderTree* operations) {
    tree_ = tree;
    operations_ = operations;
    if (tree)
        tree->setObjectName(QString::number(kTreeId));
    setWidget(tree);
}

std::string CBrowserTreeBar::GetSelectedPath() const {
    std::string path;
    return operations_ && operations_->GetSelectedFolder(path) ? path : std::string();
}

void CBrowserTreeBar::EnsureSelection() {
    if (operations_)
        operations_->SelectParentFolder();
}

void CBrowserTreeBar::ShowCurrentFolder() {
    if (operations_)
        operations_->SelectCurrentFolder();
    if (tree_)
        tree_->show();
    ShowCloseButton(false);
}

void CBrowserTreeBar::RefreshTree() {
    if (!tree_ || !operations_ || !tree_->isVisible())
        return;
    tree_->setUpdatesEnabled(false);
    operations_->Refresh();
    tree_->setUpdatesEnabled(true);
}

void CBrowserTreeBar::SelectPath(const QObject* sender, const std::string& path) {
    if (operations_ && sender != tree_)
        operations_->SelectFolder(path);
}
