#include "NewMenuIcons.h"

#include <QPainter>
#include <algorithm>

#include "MenuLook.h"

namespace MenuEx {

namespace {

// The list of sets of the process; a set removes itself when it goes.
std::vector<CNewMenuIcons*>& SetList() {
    static std::vector<CNewMenuIcons*> list;
    return list;
}

// One cell of the strip; a picture without alpha takes its top-left
// pixel's colour as transparent.
QImage Cut(const QImage& strip, int index, QSize size) {
    QImage cell = strip.copy(index * size.width(), 0, size.width(), size.height())
                      .convertToFormat(QImage::Format_ARGB32);
    if (!strip.hasAlphaChannel()) {
        const QRgb key = strip.pixel(0, 0) & 0xffffff;
        for (int y = 0; y < cell.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(cell.scanLine(y));
            for (int x = 0; x < cell.width(); ++x)
                if ((line[x] & 0xffffff) == key)
                    line[x] = 0;
        }
    }
    return cell;
}

template <class F>
QImage MapPixels(const QImage& in, F f) {
    if (in.isNull())
        return {};
    QImage out = in.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            line[x] = f(line[x]);
    }
    return out;
}

}  // namespace

bool ToolBarData::Parse(const std::vector<uint16_t>& words, ToolBarData& out) {
    if (words.size() < 4)
        return false;
    const size_t count = words[3];
    if (words[1] == 0 || words[2] == 0 || count == 0 || words.size() - 4 < count)
        return false;
    out.width = words[1];
    out.height = words[2];
    out.buttons.assign(words.begin() + 4, words.begin() + 4 + long(count));
    return true;
}

CNewMenuIcons::~CNewMenuIcons() {
    auto& list = SetList();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

std::shared_ptr<CNewMenuIcons> CNewMenuIcons::Find(const QString& name) {
    for (CNewMenuIcons* set : SetList())
        if (set->MatchesResource(name))
            return set->shared_from_this();
    return nullptr;
}

int CNewMenuIcons::SetCount() {
    return int(SetList().size());
}

void CNewMenuIcons::RefreshAll(QColor menuColor) {
    for (CNewMenuIcons* set : SetList())
        set->RefreshColors(menuColor);
}

std::shared_ptr<CNewMenuIcons> CNewMenuIcons::LoadToolBar(const QString& name,
                                                          const std::vector<uint16_t>& words,
                                                          const QImage& image, const QImage& image2x,
                                                          QColor menuColor) {
    if (auto found = Find(name))
        return found;
    ToolBarData data;
    if (!ToolBarData::Parse(words, data) || image.isNull())
        return nullptr;
    std::vector<uint32_t> ids;
    for (uint32_t id : data.buttons)
        if (id != 0)
            ids.push_back(id);
    const QSize size(data.width, data.height);
    // Every button needs its whole cell in the image.
    if (ids.empty() || image.width() < int(ids.size()) * size.width() || image.height() < size.height())
        return nullptr;
    const bool twice = !image2x.isNull() && image2x.width() >= int(ids.size()) * size.width() * 2 &&
                       image2x.height() >= size.height() * 2;
    auto set = std::shared_ptr<CNewMenuIcons>(new CNewMenuIcons);
    set->name_ = name;
    set->size_ = size;
    set->ids_ = ids;
    for (int i = 0; i < int(ids.size()); ++i)
        set->sources_.push_back({Cut(image, i, size), twice ? Cut(image2x, i, size * 2) : QImage()});
    set->BuildImageSets(menuColor);
    SetList().push_back(set.get());
    return set;
}

int CNewMenuIcons::GetIndex(uint32_t id) const {
    for (int i = int(ids_.size()) - 1; i >= 0; --i)
        if (ids_[size_t(i)] == id)
            return 3 * i;
    return -1;
}

QImage CNewMenuIcons::Image(int index, bool twice) const {
    if (index < 0 || index >= int(images_.size()))
        return {};
    const auto& pair = images_[size_t(index)];
    return twice && !pair.second.isNull() ? pair.second : pair.first;
}

void CNewMenuIcons::Draw(QPainter& p, int index, const QRect& target, QColor silhouette) const {
    const bool twice = p.device() && p.device()->devicePixelRatio() > 1.0;
    QImage image = Image(index, twice);
    if (image.isNull())
        return;
    if (silhouette.isValid()) {
        const QRgb c = silhouette.rgb() & 0xffffff;
        image = MapPixels(image, [c](QRgb px) { return qAlpha(px) >= 128 ? (0xff000000u | c) : 0u; });
    }
    p.drawImage(target, image);
}

QImage CNewMenuIcons::Darkened(const QImage& normal) {
    return MapPixels(normal, [](QRgb px) {
        return qRgba(qRed(px) * kDarken / 255, qGreen(px) * kDarken / 255, qBlue(px) * kDarken / 255,
                     qAlpha(px));
    });
}

QImage CNewMenuIcons::Disabled(const QImage& normal, QColor menuColor) {
    const QColor tint = Lighten(menuColor, kTintLighten);
    return MapPixels(normal, [tint](QRgb px) {
        const int grey = (qRed(px) + qGreen(px) + qBlue(px)) / 3;
        auto blend = [grey](int t) { return (grey * kGreyWeight + t * kTintWeight) / 255; };
        return qRgba(blend(tint.red()), blend(tint.green()), blend(tint.blue()), qAlpha(px));
    });
}

void CNewMenuIcons::RefreshColors(QColor menuColor) {
    BuildImageSets(menuColor);
}

void CNewMenuIcons::BuildImageSets(QColor menuColor) {
    images_.clear();
    for (const Source& s : sources_) {
        images_.push_back({s.normal, s.normal2x});
        images_.push_back({Darkened(s.normal), Darkened(s.normal2x)});
        images_.push_back({Disabled(s.normal, menuColor), Disabled(s.normal2x, menuColor)});
    }
}

}  // namespace MenuEx
