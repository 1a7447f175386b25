#pragma once
// Sent by the main frame to each window registered for device notices
// (RegisterNotifyWindow) when removable media are mounted; the folder tree
// re-reads its media on it.

#include <QEvent>

#include <string>
#include <vector>

class CDeviceChangeEvent : public QEvent {
public:
    explicit CDeviceChangeEvent(std::vector<std::string> mounts)
        : QEvent(EventType()), m_mounts(std::move(mounts)) {}
    static QEvent::Type EventType() {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    // The mount points that arrived.
    std::vector<std::string> m_mounts;
};
