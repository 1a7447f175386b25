#pragma once
// A 4000 x 3000 picture with gradients, edges and noise, so the JPEG has a
// camera-like size (a few megabytes at quality 90); the seed varies it.

#include <QBuffer>
#include <QImage>
#include <QRandomGenerator>

#include "ExifFixture.h"

namespace BenchPictures {

inline Fixture::Bytes CameraPicture(int seed) {
    QImage image(4000, 3000, QImage::Format_RGB888);
    QRandomGenerator random(static_cast<quint32>(seed));
    for (int y = 0; y < image.height(); ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            const int noise = int(random.bounded(24u));
            row[3 * x] = uchar((x * 255 / 4000 + noise + seed * 17) & 0xFF);
            row[3 * x + 1] = uchar((y * 255 / 3000 + noise) & 0xFF);
            row[3 * x + 2] = uchar(((x / 50 + y / 50) % 2 ? 200 : 60) + noise / 2);
        }
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    const QByteArray bytes = buffer.data();
    return Fixture::Bytes(bytes.begin(), bytes.end());
}

}  // namespace BenchPictures
