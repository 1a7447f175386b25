#pragma once
// What the windows built in code share: texts from the string table and
// controls named by their numeric id, so tests find control 1012.

#include <QString>

#include "StringTable.h"

namespace DialogText {

inline QString Str(unsigned id) {
    return QString::fromUtf8(Res::LoadStr(id));
}

template <class Widget>
Widget* Named(Widget* widget, int id) {
    widget->setObjectName(QString::number(id));
    return widget;
}

}  // namespace DialogText
