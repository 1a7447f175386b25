#include "NewMenu.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QStyleOptionMenuItem>

#include "MenuLook.h"
#include "NewMenuStyle.h"

namespace MenuEx {

namespace {

uint32_t CommandIdOf(const QAction* action) {
    bool ok = false;
    const uint32_t id = action->objectName().toUInt(&ok);
    if (ok)
        return id;
    return action->data().toUInt();
}

QString KeyName(const AccelEntry& e) {
    if (!(e.flags & AccelEntry::VirtKey))
        return e.key > 0 && e.key < 0x10000 ? QString(QChar(e.key)) : QString();
    // Qt names keys it knows; an unknown key gives nothing and is skipped.
    const QString name = QKeySequence(e.key).toString(QKeySequence::NativeText);
    return name.size() == 1 && !name[0].isPrint() ? QString() : name;
}

}  // namespace

QString DisplayText(const QString& text, uint32_t id, bool popup, const AccelTable* accelerators) {
    if (popup)
        return text;
    const int tab = text.indexOf('\t');
    if (tab >= 0)
        return accelerators ? text : text.left(tab);
    if (!accelerators)
        return text;
    QString keys;
    for (const AccelEntry& e : *accelerators) {
        if (e.command != id)
            continue;
        const QString key = KeyName(e);
        if (key.isEmpty())
            continue;
        if (!keys.isEmpty())
            keys += ", ";
        if (e.flags & AccelEntry::Alt)
            keys += "Alt+";
        if (e.flags & AccelEntry::Control)
            keys += "Ctrl+";
        if (e.flags & AccelEntry::Shift)
            keys += "Shift+";
        keys += key;
    }
    return keys.isEmpty() ? text : text + '\t' + keys;
}

int FindMnemonic(const QStringList& displayTexts, QChar c) {
    const QString wanted = QString('&') + c.toLower();
    for (int i = 0; i < displayTexts.size(); ++i)
        if (displayTexts[i].toLower().contains(wanted))
            return i;
    return -1;
}

QString CNewMenuItemData::GetString(const AccelTable* accelerators) const {
    return DisplayText(m_szMenuText, m_nID, IsPopup(), kAppendAccelerators ? accelerators : nullptr);
}

CNewMenu::CNewMenu(CNewMenu* parentMenu, QWidget* parent)
    : QMenu(parent ? parent : parentMenu), m_pParentMenu(parentMenu) {
    setStyle(CNewMenuStyle::Instance());
    connect(this, &QMenu::aboutToShow, this, [this] {
        PreparePopup();
        if (!m_pParentMenu)
            return;
        m_pParentMenu->m_nOpenPopups++;
        // The first popup of a bar repaints the bar item it hangs from.
        if (m_pParentMenu->IsMenuBar() && m_pParentMenu->m_nOpenPopups == 1 && m_pParentMenu->OwnerWindow())
            m_pParentMenu->OwnerWindow()->update();
    });
}

CNewMenu::~CNewMenu() {
    // Released while still a CNewMenu, so the parent's count follows.
    if (isVisible())
        hide();
    CNewMenuStyle::Forget(this);
    DestroyMenu();
}

bool CNewMenu::LoadMenu(const std::vector<MenuLine>& lines, const std::function<QAction*(uint32_t)>& lookup) {
    if (lines.empty())
        return false;
    DestroyMenu();
    m_bIsPopup = false;
    size_t i = 0;
    // Builds one menu from lines[i] up to its END; separators only between items.
    std::function<void(CNewMenu*)> fill = [&](CNewMenu* menu) {
        bool pendingSeparator = false;
        for (; i < lines.size(); ++i) {
            const MenuLine& line = lines[i];
            if (line.kind == MenuLine::End)
                return;
            if (line.kind == MenuLine::Separator) {
                pendingSeparator = !menu->actions().isEmpty();
                continue;
            }
            auto flushSeparator = [&] {
                if (pendingSeparator)
                    menu->addSeparator();
                pendingSeparator = false;
            };
            if (line.kind == MenuLine::Popup) {
                auto* sub = new CNewMenu(menu, menu == this ? nullptr : menu);
                sub->setTitle(QString::fromUtf8(line.text));
                ++i;
                fill(sub);
                if (sub->actions().isEmpty()) {
                    delete sub;
                    continue;
                }
                flushSeparator();
                menu->addMenu(sub);
                menu->m_SubMenus.push_back(sub);
                sub->m_bIsPopup = true;
                sub->Synchronize();
                continue;
            }
            if (QAction* action = lookup(line.id)) {
                flushSeparator();
                menu->AppendAction(action, QString::fromUtf8(line.text));
            }
        }
    };
    fill(this);
    Synchronize();
    return true;
}

void CNewMenu::DestroyMenu() {
    while (!m_SubMenus.empty()) {
        CNewMenu* sub = m_SubMenus.back();
        m_SubMenus.pop_back();
        delete sub;
    }
    m_MenuItemList.clear();
    clear();
}

void CNewMenu::AppendAction(QAction* action, const QString& text) {
    addAction(action);
    auto record = std::make_unique<CNewMenuItemData>();
    record->m_szMenuText = text;
    record->m_nID = CommandIdOf(action);
    record->m_nFlags = MfOwnerDraw | MfByPosition;
    record->m_pAction = action;
    m_MenuItemList.push_back(std::move(record));
}

QAction* CNewMenu::AppendCommand(uint32_t id, const QString& text) {
    auto* action = new QAction(QString(text).section('\t', 0, 0), this);
    action->setData(id);
    AppendAction(action, text);
    return action;
}

void CNewMenu::Synchronize() {
    for (auto& record : m_MenuItemList)
        record->m_nSyncFlag = 0;
    std::vector<std::unique_ptr<CNewMenuItemData>> list;
    for (QAction* action : actions()) {
        std::unique_ptr<CNewMenuItemData> record;
        for (auto& old : m_MenuItemList)
            if (old && old->m_pAction == action && !old->m_nSyncFlag) {
                record = std::move(old);
                break;
            }
        if (!record) {
            record = std::make_unique<CNewMenuItemData>();
            record->m_pAction = action;
            record->m_szMenuText = action->isSeparator() ? QString() : action->text();
        }
        record->m_nSyncFlag = 1;
        if (action->isSeparator()) {
            record->m_nFlags = MfSeparator | MfOwnerDraw | MfByPosition;
            record->m_nID = 0;
        } else if (QMenu* sub = action->menu<QMenu*>()) {
            record->m_nFlags = MfPopup | MfOwnerDraw | MfByPosition;
            record->m_nID = 0;
            if (record->m_szMenuText.isEmpty())
                record->m_szMenuText = sub->title();
            if (auto* ours = qobject_cast<CNewMenu*>(sub))
                ours->m_pParentMenu = this;
        } else {
            record->m_nFlags = MfOwnerDraw | MfByPosition;
            record->m_nID = CommandIdOf(action);
        }
        list.push_back(std::move(record));
    }
    m_MenuItemList = std::move(list);
}

CNewMenuItemData* CNewMenu::ItemOf(const QAction* action) const {
    for (const auto& record : m_MenuItemList)
        if (record->m_pAction == action)
            return record.get();
    return nullptr;
}

CNewMenuItemData* CNewMenu::FindItem(uint32_t id) const {
    for (const auto& record : m_MenuItemList)
        if (!record->IsSeparator() && !record->IsPopup() && record->m_nID == id)
            return record.get();
    for (CNewMenu* sub : m_SubMenus)
        if (CNewMenuItemData* found = sub->FindItem(id))
            return found;
    return nullptr;
}

CNewMenu* CNewMenu::FindMenuOfItem(uint32_t id) const {
    for (const auto& record : m_MenuItemList)
        if (!record->IsSeparator() && !record->IsPopup() && record->m_nID == id)
            return const_cast<CNewMenu*>(this);
    for (CNewMenu* sub : m_SubMenus)
        if (CNewMenu* found = sub->FindMenuOfItem(id))
            return found;
    return nullptr;
}

bool CNewMenu::SetItemIcon(uint32_t id, const QString* text, const std::shared_ptr<CNewMenuIcons>& icons,
                           int index) {
    bool any = false;
    if (m_MenuItemList.size() != size_t(actions().size()))
        Synchronize();
    for (auto& record : m_MenuItemList) {
        if (record->IsSeparator() || record->IsPopup() || record->m_nID != id)
            continue;
        if (text)
            record->m_szMenuText = *text;
        record->m_pMenuIcon = icons;
        record->m_nMenuIconOffset = index;
        any = true;
    }
    if (any && icons) {
        m_iconX = std::max(m_iconX, icons->ImageSize().width());
        m_iconY = std::max(m_iconY, icons->ImageSize().height());
    }
    // A command may sit in several submenus: each gets the icon.
    for (CNewMenu* sub : m_SubMenus)
        any = sub->SetItemIcon(id, text, icons, index) || any;
    return any;
}

bool CNewMenu::LoadToolBar(const QString& name, const std::vector<uint16_t>& words, const QImage& image,
                           const QImage& image2x) {
    auto icons = CNewMenuIcons::LoadToolBar(name, words, image, image2x, GetMenuColor(this));
    if (!icons)
        return false;
    const auto& ids = icons->CommandIds();
    for (int i = int(ids.size()) - 1; i >= 0; --i)
        SetItemIcon(ids[size_t(i)], nullptr, icons, 3 * i);
    return true;
}

int CNewMenu::OnMenuChar(QChar c) {
    if (m_MenuItemList.size() != size_t(actions().size()))
        Synchronize();
    QStringList texts;
    for (const auto& record : m_MenuItemList)
        texts << record->GetString(Accelerators());
    const int pos = FindMnemonic(texts, c);
    return pos < 0 ? 0 : (2 << 16) | pos;
}

void CNewMenu::PreparePopup() {
    m_bIsPopup = true;
    Synchronize();
}

bool CNewMenu::ReleasePopup() {
    if (!m_pParentMenu)
        return false;
    if (m_pParentMenu->IsMenuBar()) {
        m_pParentMenu->m_nOpenPopups = 0;
        if (QWidget* owner = m_pParentMenu->OwnerWindow())
            owner->update();
        return true;
    }
    if (m_pParentMenu->m_nOpenPopups > 0)
        m_pParentMenu->m_nOpenPopups--;
    return false;
}

void CNewMenu::SetAccelerators(const AccelTable* table) {
    m_pAccel = table;
}

namespace {

const AccelTable*& DefaultAccelerators() {
    static const AccelTable none;
    static const AccelTable* table = &none;
    return table;
}

}  // namespace

void CNewMenu::SetDefaultAccelerators(const AccelTable* table) {
    static const AccelTable none;
    DefaultAccelerators() = table ? table : &none;
}

const AccelTable* CNewMenu::Accelerators() const {
    if (m_pAccel)
        return m_pAccel;
    return m_pParentMenu ? m_pParentMenu->Accelerators() : DefaultAccelerators();
}

void CNewMenu::SetBackgroundBrush(std::optional<QColor> color) {
    m_brush = color;
    for (CNewMenu* sub : m_SubMenus)
        sub->SetBackgroundBrush(color);
}

QColor CNewMenu::GetMenuColor(const CNewMenu* menu) {
    return MenuColor(CurrentLook(), menu ? menu->m_brush : std::nullopt);
}

QColor CNewMenu::GetBarColor(const CNewMenu* menu) {
    return BarColor(CurrentLook(), menu ? menu->m_brush : std::nullopt);
}

void CNewMenu::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const {
    QMenu::initStyleOption(option, action);
    if (const CNewMenuItemData* record = ItemOf(action))
        option->text = record->GetString(Accelerators());
    if (option->menuItemType == QStyleOptionMenuItem::DefaultItem)
        option->font.setBold(true);
    option->icon = QIcon();
    option->maxIconWidth = m_iconX;
}

void CNewMenu::keyPressEvent(QKeyEvent* event) {
    const QString typed = event->text();
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
    if (plain && typed.size() == 1 && typed[0].isPrint() && !typed[0].isSpace()) {
        if (const int found = OnMenuChar(typed[0])) {
            QAction* action = actions().value(found & 0xffff);
            if (action && action->isEnabled()) {
                setActiveAction(action);
                // Opens the submenu or runs the command, as the keyboard would.
                QKeyEvent go(QEvent::KeyPress, action->menu() ? Qt::Key_Right : Qt::Key_Return,
                             Qt::NoModifier);
                QMenu::keyPressEvent(&go);
            }
            event->accept();
            return;
        }
    }
    QMenu::keyPressEvent(event);
}

CNewMenuBar::CNewMenuBar(CNewMenu* model, QWidget* parent) : QMenuBar(parent), m_model(model) {
    setStyle(CNewMenuStyle::Instance());
    for (QAction* action : model->actions())
        addAction(action);
}

void CNewMenuBar::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const {
    QMenuBar::initStyleOption(option, action);
    if (const CNewMenuItemData* record = m_model->ItemOf(action))
        option->text = record->GetString(nullptr);
}

}  // namespace MenuEx
