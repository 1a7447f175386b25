#include "OvHorizelView.h"

#include "CommandIds.h"
#include "ViewPrinting.h"

#include <QDir>
#include <QFileIconProvider>
#include <QMimeData>
#include <QUrl>
#include <QVBoxLayout>

#include "BrowserGlobals.h"
#include "PictureView.h"
#include "ReadableExtensions.h"
#include "ResultViewRouting.h"
#include "SkinAccess.h"
#include "TabstopNavigator.h"

CFolderFilesStandIn::CFolderFilesStandIn(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setViewMode(QListView::ListMode);
    setFrameShape(QFrame::NoFrame);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
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

QMimeData* CFolderFilesStandIn::mimeData(const QList<QListWidgetItem*>& items) const {
    QMimeData* data = QListWidget::mimeData(items);
    QList<QUrl> urls;
    for (const QListWidgetItem* item : items)
        urls << QUrl::fromLocalFile(item->data(Qt::UserRole).toString());
    if (data)
        data->setUrls(urls);
    return data;
}

std::vector<std::string> CFolderFilesStandIn::SelectedFiles() const {
    std::vector<std::string> files;
    for (int i = 0; i < count(); ++i)
        if (item(i)->isSelected())
            files.push_back(item(i)->data(Qt::UserRole).toString().toStdString());
    return files;
}

COvHorizelView::COvHorizelView(IPictureViewDocument* document, QWidget* parent) : QWidget(parent) {
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
    picture_ = new CPictureView(document, this);
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

QString COvHorizelView::GetZoomText() const {
    return ResultView::ZoomText(picture_);
}

int COvHorizelView::GetZoomIndex() const {
    return picture_->GetImage() ? picture_->GetZoomIndex() : 0;
}

void COvHorizelView::ShowResult(PanoramaLib::IPanoElement* result, bool fit) {
    ResultView::ShowResult(picture_, result, fit);
}

bool COvHorizelView::OnCmdMsg(int id) {
    switch (id) {
        case CmdId::FilePrint:
        case CmdId::FilePrintDirect:
            if (printing_)
                printing_->OnFilePrint();
            return true;
        case CmdId::FilePrintPreview:
            if (printing_)
                printing_->OnFilePrintPreview(window());
            return true;
        default:
            break;
    }
    return ResultView::RouteCommand(picture_, id);
}

bool COvHorizelView::OnUpdateCmdUI(CCmdUI& ui) {
    bool enabled = ui.enabled;
    if (!ResultView::RouteUpdateCommand(picture_, ui.id, &enabled))
        return false;
    ui.Enable(enabled);
    return true;
}
