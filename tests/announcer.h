#ifndef ANNOUNCER_H
#define ANNOUNCER_H

#include "discoveryconstants.h"

#include <QByteArray>
#include <QHostAddress>
#include <QUdpSocket>

// Sends announcement datagrams to the window's discovery port on 127.0.0.1 (or to the private
// port of the window under test, WidgetInspector::listenPrivately), from a loopback address of
// its own, as a module on the LAN would.
class Announcer
{
public:
    explicit Announcer(const QHostAddress &from) { bound = socket.bind(from, 0); }

    bool isBound() const { return bound; }

    // Where every Announcer sends.
    static quint16 &targetPort()
    {
        static quint16 port = discovery::AnnouncementPort;
        return port;
    }

    bool send(const QByteArray &payload)
    {
        return socket.writeDatagram(payload, QHostAddress::LocalHost, targetPort()) == payload.size();
    }

    // The announcement a module sends, in JSON with the ports as numbers.
    static QByteArray payload(const QString &ip, int atPort = 8001, int dataPort = 8000, const QString &name = QString())
    {
        QByteArray text = "{\"host ip\":\"" + ip.toUtf8() + "\",\"atcomd port\":" + QByteArray::number(atPort)
                          + ",\"data port\":" + QByteArray::number(dataPort);
        if (!name.isNull())
            text += ",\"hostname\":\"" + name.toUtf8() + '"';
        return text + '}';
    }

private:
    QUdpSocket socket;
    bool bound = false;
};

#endif // ANNOUNCER_H
