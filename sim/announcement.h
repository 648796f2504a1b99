#ifndef SIM_ANNOUNCEMENT_H
#define SIM_ANNOUNCEMENT_H

#include <QByteArray>
#include <QString>

namespace sim {

// The payload of a module's announcement datagram: a JSON object with "host ip", "atcomd port",
// "data port" (the ports as numbers) and "hostname".
QByteArray announcementDatagram(const QString &hostIp, quint16 atPort, quint16 dataPort, const QString &hostname);

} // namespace sim

#endif // SIM_ANNOUNCEMENT_H
