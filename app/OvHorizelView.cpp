#include "OvHorizelView.h"

#include <QDir>
#include <QFileIconProvider>
#include <QPainter>
#include <QVBoxLayout>

#include "BrowserGlobals.h"
#include "ReadableExtensions.h"
#include "SkinAccess.h"
#include "TabstopNavigator.h"

CFolderFilesStandIn::CFolderFilesStandIn(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setViewMode(QListView::ListMode);
    setFrameShape(QFrame::NoFrame);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, QColor::fromRgb(g_clrBrowserBackground));
    pal.setColor(QPalette::Text, QColor::fromRgb(g_clrBrowserText));
    setPalette(pal);
}

void CFolderFilesStandIn::ShowFolder(const QString& folder) {
    folder_ = folder;
    clear();
    const QDir dir(folder);
    QFileIconProvider icons;
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files, QDir::Name)) {
        if (!IsReadableImageFile(info.fileName().toStdString()))
            continue;
        auto* item = new QListWidgetItem(icons.icon(info), info.fileName(), this);
        item->setData(Qt::UserRole, info.absoluteFilePath());
    }
}

std::vector<std::string> CFolderFilesStandIn::SelectedFiles() const {
    std::vector<std::string> files;
    for (int i = 0; i < count(); ++i)
        if (item(i)->isSelected())
            files.push_back(item(i)->data(Qt::UserRole).toString().toStdString());
    return files;
}

CPictureStandIn::CPictureStandIn(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

void CPictureStandIn::SetPhotoCount(size_t count) {
    count_ = count;
    update();
}

void CPictureStandIn::SetTask(int task) {
    task_ = task;
    update();
}

void CPictureStandIn::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(96, 102, 112));
    p.setPen(QColor(232, 236, 242));
    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 1.3);
    p.setFont(f);
    QString text;
    if (task_ == 3)
        text = QStringLiteral("The stitched panorama will show here.");
    else if (count_ >= 2)
        text = QStringLiteral("%1 photos in the project, ready to stitch.").arg(count_);
    else
        text = QStringLiteral("Add at least two photos to stitch a panorama.");
    p.drawText(rect(), Qt::AlignCenter, text);
}

COvHorizelView::COvHorizelView(QWidget* parent) : QWidget(parent) {
    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    // The browser frame: the button strip above the files.
    browserPage_ = new QWidget(this);
    auto* column = new QVBoxLayout(browserPage_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    strip_ = new CButtonStrip(browserPage_);
    browser_ = new CFolderFilesStandIn(browserPage_);
    column->addWidget(strip_);
    column->addWidget(browser_, 1);
    picture_ = new CPictureStandIn(this);
    stack_->addWidget(browserPage_);
    stack_->addWidget(picture_);
    CTabstopNavigator::AddWindow(browser_, CTabstopNavigator::ThumbnailView);
    CTabstopNavigator::AddWindow(picture_, CTabstopNavigator::PictureView);
}

void COvHorizelView::ShowBrowser() {
    stack_->setCurrentWidget(browserPage_);
}
void COvHorizelView::ShowPictureView() {
    stack_->setCurrentWidget(picture_);
}
bool COvHorizelView::IsBrowserShown() const {
    return stack_->currentWidget() == browserPage_;
}
