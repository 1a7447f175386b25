#pragma once
// One skin picture cut into cells of equal width, drawn a cell at a time with
// its alpha: the pictures of image buttons, tabs and strips.

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

class QPainter;

namespace MainInterface {

class CInterfaceImageList {
public:
    CInterfaceImageList() = default;
    virtual ~CInterfaceImageList() = default;

    // Loads one 32-bit picture; cell width 0 makes square cells (the
    // picture's height). False for an empty path or a picture that is not a
    // 32-bit BMP with alpha.
    bool Load(const QString& path, unsigned cellWidth, bool flag = false, QColor colour = {});
    // One cell per file, in order, all of the first file's size. A file that
    // is not a 32-bit BMP takes no cell; a missing file keeps its cell empty;
    // a file of another size is reported ("Wrong image size, file: ") and
    // takes no cell. True when a strip exists.
    bool LoadStrip(const QStringList& paths);

    // Draws one cell at its own size with its top-left corner at `at`.
    void Draw(QPainter& painter, int index, QPoint at) const;
    // (cell width, strip height); empty without a picture.
    QSize GetCellSize() const;
    int GetCount() const;
    bool IsLoaded() const { return !image_.isNull(); }
    const QImage& Image() const { return image_; }

private:
    unsigned cellWidth_ = 0;
    QImage image_;
    bool flag_ = false;
    QColor colour_;
    QString fileName_;
};

}  // namespace MainInterface
