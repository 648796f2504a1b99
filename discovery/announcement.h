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

// The longest host name kept from an announcement; a module's own names are far shorter.
const int MaxHostNameBytes = 255;

// The announcement rule of the window and quarnel-cli scan: a datagram the reader refuses, or
// whose "host ip" is not a dotted IPv4 address, or with a port that is neither empty (not
// announced) nor decimal 1..65535, gives nothing. The host name is cut to its first MaxHostNameBytes bytes of UTF-8.
std::optional<Announcement> acceptAnnouncement(const QByteArray &datagram);

} // namespace discovery

#endif // ANNOUNCEMENT_H
