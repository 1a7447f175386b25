#include "Marker.h"

#include <QPainter>
#include <algorithm>

#include "DibImage.h"

CMarker::CMarker(int index, const std::string& fileName, QPoint hotPoint) : index(index), hotPoint(hotPoint) {
    Load(fileName, hotPoint);
}

void CMarker::Load(const std::string& fileName, QPoint hot) {
    hotPoint = hot;
    m_bitmap = Markers::CachedMarkerBitmap(fileName);
    m_image = QImage();
    if (!m_bitmap)
        return;
    const auto* bits = m_bitmap->bits.data();
    switch (m_bitmap->bpp) {
        case 32:
            m_image = QImage(bits, m_bitmap->width, m_bitmap->height, m_bitmap->stride,
                             QImage::Format_ARGB32_Premultiplied);
            break;
        case 24:
            m_image =
                QImage(bits, m_bitmap->width, m_bitmap->height, m_bitmap->stride, QImage::Format_BGR888);
            break;
        default:
            m_image = QImage(bits, m_bitmap->width, m_bitmap->height, m_bitmap->stride,
                             m_bitmap->rgb565 ? QImage::Format_RGB16 : QImage::Format_RGB555);
            break;
    }
}

QRect CMarker::GetRect() const {
    return QRect(clientPosition - hotPoint, QSize(Width(), Height()));
}

void CMarker::Draw(QPainter& painter, QPoint origin) const {
    if (!visible || m_image.isNull())
        return;
    DibImage::DrawFlipped(painter, GetRect().translated(-origin), m_image, m_image.rect());
}

bool CMarker::HitTest(QPoint point) const {
    if (!visible)
        return false;
    const QRect rect = GetRect();
    if (!rect.contains(point))
        return false;
    return m_bitmap->IsHitAt(point.x() - rect.left(), point.y() - rect.top());
}

void CMarkerArray::Add(std::unique_ptr<CMarker> marker) {
    if (marker)
        m_markers.push_back(std::move(marker));
}

CMarker* CMarkerArray::First() const {
    return m_markers.empty() ? nullptr : m_markers.front().get();
}

CMarker* CMarkerArray::FindByIndex(int index) const {
    for (auto it = m_markers.rbegin(); it != m_markers.rend(); ++it)
        if ((*it)->index == index)
            return it->get();
    return nullptr;
}

void CMarkerArray::BringToFront(CMarker* marker) {
    auto it =
        std::find_if(m_markers.begin(), m_markers.end(), [&](const auto& m) { return m.get() == marker; });
    if (it == m_markers.end() || it == m_markers.begin())
        return;
    std::rotate(m_markers.begin(), it, it + 1);
}

CMarker* CMarkerArray::HitTest(QPoint point) const {
    for (const auto& m : m_markers)
        if (m->HitTest(point))
            return m.get();
    return nullptr;
}

void CMarkerArray::DrawAll(QPainter& painter, QPoint origin) const {
    for (auto it = m_markers.rbegin(); it != m_markers.rend(); ++it)
        (*it)->Draw(painter, origin);
}
