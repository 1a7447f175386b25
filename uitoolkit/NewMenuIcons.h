#pragma once
// The menu icons of one toolbar: each button's picture cut from the
// toolbar's image, in three forms (normal, darkened, disabled), shared by
// every menu item of the commands it holds. Sets live in one list for the
// process; a set leaves it when the last item that uses it goes.

#include <QColor>
#include <QImage>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class QPainter;

namespace MenuEx {

// A toolbar description: words version, width, height, count, then one
// command id per button (0 for a separator, which has no picture).
struct ToolBarData {
    int width = 0, height = 0;
    std::vector<uint32_t> buttons;
    // False for a description shorter than its header or its count.
    static bool Parse(const std::vector<uint16_t>& words, ToolBarData& out);
};

class CNewMenuIcons : public std::enable_shared_from_this<CNewMenuIcons> {
public:
    static constexpr int kDarken = 205;
    static constexpr int kGreyWeight = 110;
    static constexpr int kTintWeight = 145;
    static constexpr int kTintLighten = 115;

    ~CNewMenuIcons();

    // The set made from `name`, from the list, or a new one loaded from the
    // toolbar description and its image (`image2x`, optional, holds the same
    // cells at twice the size for sharp drawing at a device pixel ratio of
    // 2). Null when the description, the image or any id is missing or short.
    static std::shared_ptr<CNewMenuIcons> LoadToolBar(const QString& name, const std::vector<uint16_t>& words,
                                                      const QImage& image, const QImage& image2x,
                                                      QColor menuColor);
    static std::shared_ptr<CNewMenuIcons> Find(const QString& name);
    // Number of sets alive.
    static int SetCount();
    // Rebuilds the darkened and disabled pictures of every set for a new menu colour.
    static void RefreshAll(QColor menuColor);

    bool MatchesResource(const QString& name) const { return name_ == name; }
    // 3 x the index of the button of `id`, searched from the last; -1 when absent.
    int GetIndex(uint32_t id) const;
    const std::vector<uint32_t>& CommandIds() const { return ids_; }
    QSize ImageSize() const { return size_; }
    int ImageCount() const { return int(images_.size()); }
    // Picture `index` (normal, +1 darkened, +2 disabled); null out of range.
    QImage Image(int index, bool twice = false) const;
    // Draws picture `index` into `target` (picking the sharp one on a
    // high-density device) or, with `silhouette` valid, its shape in that colour.
    void Draw(QPainter& p, int index, const QRect& target, QColor silhouette = QColor()) const;

    void RefreshColors(QColor menuColor);

    // The three-picture build, also used by tests on fixed pixels.
    static QImage Darkened(const QImage& normal);
    static QImage Disabled(const QImage& normal, QColor menuColor);

private:
    struct Source {
        QImage normal, normal2x;
    };
    void BuildImageSets(QColor menuColor);

    QString name_;
    QSize size_;
    std::vector<uint32_t> ids_;
    std::vector<Source> sources_;
    // Three pictures per button, each at 1x and (when given) 2x.
    std::vector<std::pair<QImage, QImage>> images_;
};

}  // namespace MenuEx
