#pragma once
// Saves a window or dialog as PNG under the build folder's "screenshots", so a
// reviewer can look at what the tests built.
#include <QDir>
#include <QImage>
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

// The same at a device pixel ratio of `ratio`, as a high-density screen shows it.
inline QString SaveScreenshotAt(QWidget* widget, const QString& name, qreal ratio) {
    QDir().mkpath(OVH_SCREENSHOT_DIR);
    const QString path = QString(OVH_SCREENSHOT_DIR) + "/" + name + ".png";
    QImage image(widget->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    widget->render(&image);
    image.save(path);
    return path;
}
