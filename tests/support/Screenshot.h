#pragma once
// Saves a window or dialog as PNG under the build folder's "screenshots", so a
// reviewer can look at what the tests built.
#include <QDir>
#include <QString>
#include <QWidget>

#ifndef OVH_SCREENSHOT_DIR
#define OVH_SCREENSHOT_DIR "screenshots"
#endif

inline QString SaveScreenshot(QWidget* widget, const QString& name) {
    QDir().mkpath(OVH_SCREENSHOT_DIR);
    const QString path = QString(OVH_SCREENSHOT_DIR) + "/" + name + ".png";
    widget->grab().save(path);
    return path;
}
