#include "MenuTheme.h"

#include <QPainter>
#include <QPainterPath>

#include "NewMenuIcons.h"

namespace MenuEx {

namespace {

// The pixel outline of a rectangle (Win32 rectangle: right and bottom excluded).
void Outline(QPainter& p, const QRect& r, QColor c) {
    p.fillRect(QRect(r.left(), r.top(), r.width(), 1), c);
    p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), c);
    p.fillRect(QRect(r.left(), r.top(), 1, r.height()), c);
    p.fillRect(QRect(r.right(), r.top(), 1, r.height()), c);
}

// The check mark (drawn as a path: the symbol font is not there).
void CheckMark(QPainter& p, const QRect& box, QColor c) {
    const QPointF o = QRectF(box).center();
    const qreal s = std::min(box.width(), box.height()) / 14.0;
    QPainterPath path;
    path.moveTo(o + QPointF(-4 * s, 0));
    path.lineTo(o + QPointF(-1.5 * s, 2.5 * s));
    path.lineTo(o + QPointF(4 * s, -3.5 * s));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(c, std::max<qreal>(1.5, 2 * s), Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.drawPath(path);
    p.restore();
}

void SubmenuArrow(QPainter& p, const QRect& r, QColor c) {
    const int cx = r.right() - 8, cy = r.center().y();
    QPolygon tri{QPoint(cx, cy - 3), QPoint(cx + 3, cy), QPoint(cx, cy + 3)};
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(tri);
    p.restore();
}

int TextFlags(bool hidePrefix, const SystemLook& look) {
    // Prefixes stay visible while the system shows keyboard cues.
    return Qt::TextSingleLine |
           (hidePrefix && !look.keyboardCues ? Qt::TextHideMnemonic : Qt::TextShowMnemonic);
}

}  // namespace

int MenuBarHeight(const QFontMetrics& fm) {
    return fm.height() + 6;
}

QSize MeasureItemXP(const MeasureInput& in, const QFontMetrics& fm) {
    if (in.separator)
        return QSize(3, 3);
    QString text = in.text;
    text.replace('\t', "nnn");
    const int tw = fm.horizontalAdvance(text);
    const int th = fm.height();
    if (in.menuBar) {
        const int w = tw - (text.contains('&') ? 6 : 0);
        return QSize(w, std::max({in.iconHeight + 2, in.menuBarHeight, th}));
    }
    const int w = (in.submenu ? in.menuBarHeight : in.menuBarHeight / 2) + in.iconWidth + tw + 6;
    const int h = in.menuBarHeight <= in.iconHeight + 8 ? in.iconHeight + 7 : in.menuBarHeight;
    return QSize(w, std::max(h, th));
}

int BarShadeFactor(int k, int y) {
    if (y < 4)
        return 255;
    if (y < 8) {
        const int j = y - 4;
        return 249 - 6 * k - j * (6 + 6 * k);
    }
    return 225 - 30 * k;
}

void CMenuTheme::RefreshMetrics() {
    const bool shadows = CurrentLook().dropShadows;
    m_borders = QMargins(2, 2, shadows ? 2 : 5, shadows ? 2 : 6);
}

QMargins CMenuTheme::AdjustClientRect() const {
    if (!m_ownBorder)
        return QMargins();
    const bool shadows = CurrentLook().dropShadows;
    return QMargins(m_borders.left(), m_borders.top(), shadows ? 1 : 5, shadows ? 2 : 6);
}

QRect CMenuTheme::GetFrameRect(QSize size) const {
    const int cut = CurrentLook().dropShadows ? 3 : 7;
    return QRect(QPoint(2, 2), QPoint(size.width() - cut - 1, size.height() - cut - 1));
}

void CMenuTheme::PaintBorder(QPainter& p, QSize size, QColor, const QRect&) const {
    const SystemLook look = CurrentLook();
    Outline(p, QRect(QPoint(0, 0), size), look.btnShadow);
}

void CMenuTheme::PaintBackground(QPainter& p, const QRect& client, QColor barColor) const {
    p.fillRect(client, barColor);
}

void CMenuTheme::DrawItem(QPainter& p, const ItemPaint& item) const {
    // The classic looks are registered but never active here; they fall
    // back to the flat painter.
    CMenuThemeXP(m_id, m_ownBorder).DrawItem(p, item);
}

void CMenuThemeXP::PaintBackground(QPainter& p, const QRect& client, QColor barColor) const {
    p.fillRect(client, barColor);
}

void CMenuThemeXP::PaintBorder(QPainter& p, QSize size, QColor menu, const QRect& jointOnTop) const {
    const SystemLook look = CurrentLook();
    const int w = size.width(), h = size.height();
    const BodyColumn bc = BodyAndColumn(look, menu);
    const QMargins client = AdjustClientRect();
    // The ring between the inner rectangle and the client area.
    const QRect inner(1, 1, w - 2, h - 2);
    const QRect clientRect = QRect(0, 0, w, h).marginsRemoved(client);
    for (const QRect& band :
         {QRect(inner.left(), inner.top(), inner.width(), clientRect.top() - inner.top()),
          QRect(inner.left(), clientRect.bottom() + 1, inner.width(), inner.bottom() - clientRect.bottom()),
          QRect(inner.left(), inner.top(), clientRect.left() - inner.left(), inner.height()),
          QRect(clientRect.right() + 1, inner.top(), inner.right() - clientRect.right(), inner.height())})
        if (band.isValid())
            p.fillRect(band, bc.body);
    if (look.highContrast) {
        Outline(p, QRect(0, 0, w, h), look.btnText);
        return;
    }
    Outline(p, inner, bc.body);
    p.fillRect(QRect(1, 2, 1, h - 4), bc.column);
    Outline(p, QRect(0, 0, w, h), Darken(menu, 128));
    if (jointOnTop.isValid() && jointOnTop.width() > 2) {
        // The popup looks joined to the bar item it hangs from.
        const QColor joint =
            look.colorCount <= 256 ? look.btnFace : Mix86(BarColor(look, std::nullopt), look.window);
        p.fillRect(QRect(jointOnTop.left() + 1, 0, jointOnTop.width() - 2, 1), joint);
    }
}

void CMenuThemeXP::DrawItem(QPainter& p, const ItemPaint& item) const {
    const SystemLook look = CurrentLook();
    const QColor menu = item.barColor;
    const BodyColumn bc = BodyAndColumn(look, menu);
    const QColor select = SelectionColor(look);
    const QColor frame = look.highContrast ? look.btnText : look.highlight;
    const QRect r = item.rect;
    const int flags = TextFlags(item.hidePrefix, look);

    if (item.menuBar) {
        p.fillRect(r, menu);
        const QRect inner = r.adjusted(0, 0, -4, 0);
        if (item.pressed && !item.inactive) {
            p.fillRect(inner, bc.column);
            Outline(p, inner, look.highContrast ? look.btnText : Darken(menu, 128));
            // The shade along the right edge.
            for (int k = 0; k < 4; ++k) {
                const int x = r.right() - k;
                if (look.colorCount <= 256) {
                    if (k >= 2)
                        p.fillRect(QRect(x, r.top() + 4, 1, r.height() - 4), look.btnShadow);
                    continue;
                }
                for (int y = 0; y < r.height(); ++y)
                    p.fillRect(QRect(x, r.top() + y, 1, 1), Scale(menu, BarShadeFactor(k, y)));
            }
        } else if (item.selected && !item.inactive) {
            p.fillRect(inner, select);
            Outline(p, inner, frame);
        }
        p.setPen(item.disabled || item.inactive ? look.grayText : look.menuText);
        p.drawText(inner, Qt::AlignCenter | flags, item.text);
        return;
    }

    const QRect column(r.left(), r.top(), item.iconWidth + 8, r.height());
    p.fillRect(column, bc.column);
    p.fillRect(QRect(column.right() + 1, r.top(), r.right() - column.right(), r.height()), bc.body);
    const QRect textRect(QPoint(column.right() + 1 + 4, r.top()), QPoint(r.right() - 15, r.bottom()));
    if (item.separator) {
        p.fillRect(QRect(textRect.left(), r.top() + r.height() / 2, r.right() - textRect.left() + 1, 1),
                   look.grayText);
        return;
    }
    const bool selected = item.selected && !item.inactive;
    if (selected) {
        p.fillRect(r, select);
        Outline(p, r, frame);
    }

    const QColor textColor = item.disabled                      ? look.grayText
                             : (look.highContrast && !selected) ? look.windowText
                                                                : look.menuText;
    p.setPen(textColor);
    const int tab = item.text.indexOf('\t');
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | flags, tab < 0 ? item.text : item.text.left(tab));
    if (tab >= 0)
        p.drawText(textRect, Qt::AlignRight | Qt::AlignVCenter | flags, item.text.mid(tab + 1));
    if (item.submenu)
        SubmenuArrow(p, r, textColor);

    const QRect checkFrame = column.adjusted(1, 1, -1, -1);
    auto drawCheckFrame = [&] {
        QColor fill = Mix86(bc.column, look.highlight);
        if (selected)
            fill = look.colorCount > 256 ? Mix86(select, look.highlight) : select;
        p.fillRect(checkFrame, fill);
        Outline(p, checkFrame, frame);
    };
    const bool hasIcon = item.icons && item.iconIndex >= 0 && item.iconIndex + 2 < item.icons->ImageCount();
    if (!hasIcon) {
        if (item.checked) {
            drawCheckFrame();
            CheckMark(p, checkFrame, textColor);
        }
        return;
    }
    const QSize size = item.icons->ImageSize();
    const int x = r.left() + 3 + (size.width() < item.iconWidth ? (item.iconWidth - size.width()) / 2 : 0);
    const int y = r.top() + (r.height() - size.height()) / 2;
    const QRect place(QPoint(x, y), size);
    if (item.checked)
        drawCheckFrame();
    if (item.disabled) {
        item.icons->Draw(p, item.iconIndex + 2, place);
    } else if (selected) {
        if (item.checked) {
            item.icons->Draw(p, item.iconIndex, place);
        } else {
            item.icons->Draw(p, item.iconIndex, place.translated(1, 1), Nearest(IconShadow(select), look));
            item.icons->Draw(p, item.iconIndex, place.translated(-1, -1));
        }
    } else {
        item.icons->Draw(p, item.iconIndex + 1, place);
    }
}

const std::vector<std::unique_ptr<CMenuTheme>>& Themes() {
    static const std::vector<std::unique_ptr<CMenuTheme>> themes = [] {
        std::vector<std::unique_ptr<CMenuTheme>> list;
        for (int id : {6, 7, 0, 1, 2, 3, 8, 9, 10, 11, 4, 5}) {
            const bool own = id % 2 == 0;
            if (id == 2 || id == 3 || id == 10 || id == 11)
                list.push_back(std::make_unique<CMenuThemeXP>(id, own));
            else if (id == 8 || id == 9)
                list.push_back(std::make_unique<CMenuTheme2003>(id, own));
            else
                list.push_back(std::make_unique<CMenuTheme>(id, own));
        }
        return list;
    }();
    return themes;
}

const CMenuTheme& ActiveTheme() {
    for (const auto& theme : Themes())
        if (theme->Id() == 2)
            return *theme;
    return *Themes().front();
}

}  // namespace MenuEx
