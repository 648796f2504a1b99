#include "announcement.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace sim {

QByteArray announcementDatagram(const QString &hostIp, quint16 atPort, quint16 dataPort, const QString &hostname)
{
    QJsonObject object;
    object.insert(QStringLiteral("host ip"), hostIp);
    object.insert(QStringLiteral("atcomd port"), int(atPort));
    object.insert(QStringLiteral("data port"), int(dataPort));
    object.insert(QStringLiteral("hostname"), hostname);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace sim
