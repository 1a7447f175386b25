#include "CDlgFilesToUpload.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "OnlineText.h"
#include "UiServices.h"

namespace NetPrint::PhotoUpload {

namespace {

// The largest preview decoded; a bigger picture is read scaled down.
constexpr int kMaxPreviewSide = 2048;

QImage LoadPreview(const std::string& path) {
    QImageReader reader(QString::fromStdString(path));
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > kMaxPreviewSide || size.height() > kMaxPreviewSide))
        reader.setScaledSize(size.scaled(kMaxPreviewSide, kMaxPreviewSide, Qt::KeepAspectRatio));
    return reader.read();
}

}  // namespace

CPreviewFrame::CPreviewFrame(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::number(CDlgFilesToUpload::kPreview));
    setMinimumSize(220, 160);
    setAutoFillBackground(true);
}

void CPreviewFrame::SetImage(QImage image) {
    m_image = std::move(image);
    update();
}

QRect CPreviewFrame::FitRect(QSize picture, QRect frame) {
    if (picture.isEmpty() || frame.isEmpty())
        return {};
    const QSize fitted = picture.scaled(frame.size(), Qt::KeepAspectRatio);
    return QRect(frame.left() + (frame.width() - fitted.width()) / 2,
                 frame.top() + (frame.height() - fitted.height()) / 2, fitted.width(), fitted.height());
}

void CPreviewFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    if (m_image.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(FitRect(m_image.size(), rect().adjusted(1, 1, -1, -1)), m_image);
}

QString CDlgFilesToUpload::ItemText(const std::string& path) {
    const QFileInfo info(QString::fromStdString(path));
    const QDateTime modified = info.lastModified();
    const QString when = modified.isValid() ? QLocale().toString(modified.toLocalTime(), QLocale::ShortFormat)
                                            : QStringLiteral("Invalid DateTime");
    return QString::fromStdString(OnlineText::Format(
        OnlineText::kFileCreated, {info.completeBaseName().toStdString(), when.toStdString()}));
}

CDlgFilesToUpload::CDlgFilesToUpload(std::vector<std::string>& files, QWidget* parent)
    : QDialog(parent), m_files(files) {
    setObjectName(QStringLiteral("316"));
    setWindowTitle(QStringLiteral("Files To Upload"));
    m_heading = new QLabel(QString::fromStdString(OnlineText::Format(OnlineText::kFilesNotUploaded,
                                                                     {static_cast<int>(files.size())})),
                           this);
    m_heading->setObjectName(QString::number(kHeading));
    m_heading->setWordWrap(true);
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QString::number(kTree));
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(false);
    m_tree->setMinimumWidth(340);
    for (const std::string& path : files) {
        auto* item = new QTreeWidgetItem(m_tree, {ItemText(path)});
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Checked);
    }
    m_preview = new CPreviewFrame(this);

    auto* upload = new QPushButton(QStringLiteral("Upload"), this);
    upload->setObjectName(QString::number(kUpload));
    upload->setDefault(true);
    auto* remove = new QPushButton(QStringLiteral("Delete Files"), this);
    remove->setObjectName(QString::number(kDeleteFiles));
    auto* later = new QPushButton(QStringLiteral("Later"), this);
    later->setObjectName(QString::number(kLater));

    auto* previewColumn = new QVBoxLayout;
    previewColumn->addWidget(new QLabel(QStringLiteral("Preview:"), this));
    previewColumn->addWidget(m_preview, 1);
    auto* middle = new QHBoxLayout;
    middle->addWidget(m_tree, 3);
    middle->addLayout(previewColumn, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(upload);
    buttons->addWidget(remove);
    buttons->addWidget(later);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addLayout(middle, 1);
    layout->addLayout(buttons);
    resize(680, 380);

    connect(upload, &QPushButton::clicked, this, &CDlgFilesToUpload::accept);
    connect(remove, &QPushButton::clicked, this, [this] { done(kDeleteFiles); });
    connect(later, &QPushButton::clicked, this, &CDlgFilesToUpload::reject);
    connect(m_tree, &QTreeWidget::currentItemChanged, this, &CDlgFilesToUpload::OnSelectionChanged);
}

void CDlgFilesToUpload::OnSelectionChanged() {
    const int index = m_tree->indexOfTopLevelItem(m_tree->currentItem());
    if (index < 0 || index >= static_cast<int>(m_files.size()))
        return;
    m_preview->SetImage(LoadPreview(m_files[static_cast<std::size_t>(index)]));
}

void CDlgFilesToUpload::reject() {
    done(kLater);
}

void CDlgFilesToUpload::accept() {
    std::vector<std::string> chosen;
    for (int i = 0; i < m_tree->topLevelItemCount() && i < static_cast<int>(m_files.size()); ++i)
        if (m_tree->topLevelItem(i)->checkState(0) == Qt::Checked)
            chosen.push_back(m_files[static_cast<std::size_t>(i)]);
    if (chosen.empty()) {
        UiServices::ShowMessage(this, QString::fromStdString(OnlineText::Load(OnlineText::kSelectFiles)));
        return;
    }
    m_files = std::move(chosen);
    done(kUpload);
}

}  // namespace NetPrint::PhotoUpload
