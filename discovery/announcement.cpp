#include "announcement.h"

#include "objectliteral.h"

#include <QStringList>

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

} // namespace

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
