#ifndef ANNOUNCEMENT_H
#define ANNOUNCEMENT_H

#include <QByteArray>
#include <QString>

#include <optional>

namespace discovery {

// The four values a module announces, as texts; absent values keep these defaults.
struct Announcement
{
    QString hostIp = QStringLiteral("");
    QString atPort = QStringLiteral("");
    QString dataPort = QStringLiteral("");
    QString hostName = QStringLiteral("quarnel");
};

// Reads one announcement datagram: the bytes before the first NUL, as UTF-8, holding one object
// literal. Gives nothing when the payload is not such a literal; an object without "host ip"
// gives an Announcement whose hostIp is empty.
std::optional<Announcement> readAnnouncement(const QByteArray &datagram);

} // namespace discovery

#endif // ANNOUNCEMENT_H
