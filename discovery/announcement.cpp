#include "announcement.h"

#include "objectliteral.h"
#include "portnumber.h"

#include <QStringList>
#include <QVector>

namespace discovery {

namespace {

// The announced members, compared case-sensitively, in the order of the fields below.
enum Member { HostIp, AtPort, DataPort, HostName };

const QStringList &memberNames()
{
    static const QStringList names = {QStringLiteral("host ip"), QStringLiteral("atcomd port"),
                                      QStringLiteral("data port"), QStringLiteral("hostname")};
    return names;
}

// Four decimal numbers 0..255 as QHostAddress writes them: no sign, no leading zero, no blank.
bool isIpv4Text(const QString &text)
{
    const QVector<QStringRef> parts = text.splitRef(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QStringRef &part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.at(0) == QLatin1Char('0')))
            return false;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

// Empty (not announced) or a port number.
bool isPortText(const QString &text)
{
    return text.isEmpty() || parsePort(text).has_value();
}

// The first `bytes` bytes of the UTF-8 form of `text`, never half a character.
QString cutUtf8(const QString &text, int bytes)
{
    if (text.size() * 3 <= bytes)
        return text;
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= bytes)
        return text;
    int end = bytes;
    while (end > 0 && (quint8(utf8.at(end)) & 0xC0) == 0x80)
        --end;
    return QString::fromUtf8(utf8.constData(), end);
}

} // namespace

std::optional<Announcement> acceptAnnouncement(const QByteArray &datagram)
{
    std::optional<Announcement> announcement = readAnnouncement(datagram);
    if (!announcement || !isIpv4Text(announcement->hostIp) || !isPortText(announcement->atPort)
        || !isPortText(announcement->dataPort))
        return std::nullopt;
    announcement->hostName = cutUtf8(announcement->hostName, MaxHostNameBytes);
    return announcement;
}

std::optional<Announcement> readAnnouncement(const QByteArray &datagram)
{
    const int end = datagram.indexOf('\0');
    const QString text = QString::fromUtf8(datagram.constData(), end < 0 ? datagram.size() : end);
    const std::optional<QStringList> values = readObjectLiteral(text, memberNames());
    if (!values)
        return std::nullopt;

    Announcement announcement;
    const auto take = [&values](Member member, QString &field) {
        if (!values->at(member).isNull())
            field = values->at(member);
    };
    take(HostIp, announcement.hostIp);
    take(AtPort, announcement.atPort);
    take(DataPort, announcement.dataPort);
    take(HostName, announcement.hostName);
    return announcement;
}

} // namespace discovery
