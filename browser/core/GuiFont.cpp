#include "GuiFont.h"

#include <QApplication>
#include <QFont>

QString GetDefaultGuiFontName() {
    return QApplication::font().family();
}
