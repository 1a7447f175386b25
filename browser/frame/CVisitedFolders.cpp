#include "CVisitedFolders.h"

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QStyle>

#include <filesystem>

#include "BrowserHost.h"
#include "BrowserLocations.h"
#include "CIconExtractor.h"
#include "CImgThumbsBrowser.h"
#include "CShellTree.h"
#include "SkinAccess.h"
#include "StringTable.h"
#include "TabstopNavigator.h"

namespace {

constexpr int kLocationRole = Qt::UserRole;

std::string LibraryName(const std::string& text, bool& hasSemicolon) {
    const size_t semicolon = text.find(';');
    hasSemicolon = semicolon != std::string::npos;
    return text.substr(0, semicolon);
}

}  // namespace

CVisitedFoldersCmb::CVisitedFoldersCmb(QWidget* parent) : QComboBox(parent) {
    setObjectName(QString::number(CVisitedFolders::kComboId));
    setIconSize(QSize(16, 16));
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(20);
    setFocusPolicy(Qt::StrongFocus);
}

QString CVisitedFoldersCmb::GetDisplayText(const std::string& location) {
    const int kind = BrowserLocation::Kind(location);
    const std::string text = BrowserLocation::Text(location);
    if (kind == BrowserLocation::kFolder)
        return QFile::decodeName(text.c_str());
    if (kind == BrowserLocation::kLibrary) {
        bool hasSemicolon = false;
        const std::string name = LibraryName(text, hasSemicolon);
        if (name.empty() || !hasSemicolon)
            return {};
        return QString::fromUtf8(Res::LoadStr(336)).replace(QLatin1String("%s"), QString::fromUtf8(name));
    }
    return {};
}

QIcon CVisitedFoldersCmb::LocationIcon(const std::string& location) {
    const int kind = BrowserLocation::Kind(location);
    if (kind == BrowserLocation::kFolder) {
        CIconExtractor icons;
        return icons.GetIcons(BrowserLocation::Text(location), false) ? icons.SmallIcon() : QIcon();
    }
    if (kind == BrowserLocation::kLibrary) {
        bool hasSemicolon = false;
        LibraryName(BrowserLocation::Text(location), hasSemicolon);
        // Only an entry with its icon field has an icon to draw.
        return hasSemicolon ? CSystemImageList::Instance().Icon(
                                  CIconExtractor::PlaceIcon(CIconExtractor::Place::Folder, false))
                            : QIcon();
    }
    return {};
}

std::string CVisitedFoldersCmb::LocationAt(int index) const {
    return itemData(index, kLocationRole).toByteArray().toStdString();
}

CParentFolderButton::CParentFolderButton(QWidget* parent) : CImgButton(parent) {
    setObjectName(QString::number(CVisitedFolders::kButtonId));
    const QString normal = Skin::String("FOLDERS DIALOG", "ButtonImage");
    SetImageFiles(normal, normal, Skin::String("FOLDERS DIALOG", "ButtonImageDisabled", normal),
                  Skin::String("FOLDERS DIALOG", "ButtonImagePressed", normal));
    // The tip is the string's first line.
    setToolTip(QString::fromUtf8(Res::LoadStr(335)).section('\n', 0, 0).left(79));
    setCursor(Qt::PointingHandCursor);
}

QSize CParentFolderButton::sizeHint() const {
    return GetNormalImageFile().isEmpty() ? QSize(30, 24) : CImgButton::sizeHint();
}

void CParentFolderButton::paintEvent(QPaintEvent* event) {
    if (!GetNormalImageFile().isEmpty()) {
        CImgButton::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QColor face = QColor(255, 255, 255, isDown() ? 150 : (IsHover() ? 230 : 190));
    painter.setPen(QColor(122, 157, 227));
    painter.setBrush(face);
    painter.drawRoundedRect(box, 4, 4);
    const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_FileDialogToParent);
    const QRect iconRect(rect().center() - QPoint(7, 7), QSize(16, 16));
    icon.paint(&painter, iconRect, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
}

CVisitedFolders::CVisitedFolders(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("143"));
    m_background = Skin::Color("BROWSER", "FOLDER STRIP COLOR", QColor(203, 219, 244));
    m_combo = new CVisitedFoldersCmb(this);
    m_button = new CParentFolderButton(this);
    m_combo->move(5, 3);
    connect(m_combo, &QComboBox::activated, this, &CVisitedFolders::OnSelChange);
    connect(m_button, &QAbstractButton::clicked, this, [] { BrowserHost().SelectParentFolder(); });
    CTabstopNavigator::AddWindow(this, CTabstopNavigator::VisitedFolders);
    // Ready as soon as it exists (the dialog's initialisation).
    m_bReady = true;
    Fill(g_pThumbsBrowser ? BrowserLocation::Make(BrowserLocation::kFolder, g_pThumbsBrowser->CurrentFolder())
                          : std::string());
}

CVisitedFolders::~CVisitedFolders() {
    CTabstopNavigator::RemoveWindow(this);
}

QSize CVisitedFolders::sizeHint() const {
    return {400, 30};
}

void CVisitedFolders::Fill(const std::string& current) {
    if (!m_bReady)
        return;
    m_shown = current;
    const QSignalBlocker block(m_combo);
    m_combo->clear();
    int selected = -1;
    const QString wanted = QString::fromStdString(current);
    for (const std::string& location : RecentLocations()) {
        m_combo->addItem(CVisitedFoldersCmb::LocationIcon(location),
                         CVisitedFoldersCmb::GetDisplayText(location), QByteArray::fromStdString(location));
        if (selected < 0 && QString::fromStdString(location).compare(wanted, Qt::CaseInsensitive) == 0)
            selected = m_combo->count() - 1;
    }
    m_combo->setCurrentIndex(selected);
}

void CVisitedFolders::OnSelChange(int index) {
    const std::string location = m_combo->LocationAt(index);
    if (location.empty())
        return;
    std::error_code error;
    if (BrowserLocation::Kind(location) == BrowserLocation::kFolder &&
        !std::filesystem::is_directory(BrowserLocation::Text(location), error)) {
        // Renamed or deleted since it was visited: opening it would empty the
        // pane while the tree and the status bar still show the folder before.
        QApplication::beep();
        Fill(m_shown);
        return;
    }
    m_bReady = false;
    OpenBrowserFolder(location, this);
    m_bReady = true;
}

void CVisitedFolders::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect().adjusted(-2, -2, 2, 2), m_background);
}

void CVisitedFolders::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int comboHeight = std::min(m_combo->sizeHint().height(), height() - 4);
    m_combo->setGeometry(5, (height() - comboHeight) / 2, std::max(40, width() - 50 - 5), comboHeight);
    const QSize button = m_button->sizeHint();
    m_button->setGeometry(width() - 40, (height() - button.height()) / 2, button.width(), button.height());
}
