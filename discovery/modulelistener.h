#ifndef MODULELISTENER_H
#define MODULELISTENER_H

#include "announcement.h"
#include "discoveryconstants.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

#include <functional>

namespace discovery {

// Hears module announcements: binds the announcement port with shared binding (the window,
// quarnel-cli and other listeners run side by side), reads what waits in bounded slices, applies
// acceptAnnouncement(), the own-address filter and the row limit, and emits each announcement it
// accepts through heard(). Owns its socket, on the thread that created it; knows no widgets.
class ModuleListener : public QObject
{
    Q_OBJECT

public:
    // A flood is read in slices with the event loop served between them, not in one call that
    // lasts as long as the flood.
    static const int DatagramBatch = 64; // datagrams per slice, at most
    static const int BatchMs = 20;       // ms per slice, at most
    // This machine's address is looked up again after this long; the lookup can take longer
    // than a slice (under Wine, with a busy machine).
    static const int OwnAddressMs = 10000;

    explicit ModuleListener(QObject *parent = nullptr);

    // Binds `port` on `address` with shared binding, after closing an earlier binding. False with
    // the reason in *error when the port cannot be bound: nothing will be heard.
    bool listen(quint16 port, QString *error, const QHostAddress &address = QHostAddress(QHostAddress::Any));
    // The socket, whose readyRead() its owner connects to what calls readPending().
    QUdpSocket *socket() { return &udp; }

    // Drops announcements sent from this machine's first IPv4 address (the window's rule; a
    // command-line scan lists a module simulated on this machine).
    void setDropOwnAddress(bool drop) { dropOwnAddress = drop; }
    // The row limit: what the owner lists. An announcement of an address it does not list yet is
    // dropped, with overflowed(), while it lists MaxModules already. Without a roster: no limit.
    void setRoster(std::function<bool(const QString &ip)> isListed, std::function<int()> listedCount);

    // How long one slice may read (BatchMs); tests shorten it.
    void setSliceMs(int ms) { sliceMs = ms; }
    // Reads one slice of what waits; what is left is read at the socket's next readyRead(), in a
    // later turn of the event loop.
    void readPending();
    // One datagram from `sender`, under the rules above; true when it was accepted and heard.
    bool take(const QByteArray &datagram, const QHostAddress &sender = QHostAddress());
    // Announcements dropped by the row limit so far.
    int overflow() const { return overflowCount; }

    // This machine's first IPv4 address, as the own-address filter compares it.
    static QString localIPv4Address();

signals:
    void heard(const discovery::Announcement &announcement);
    void overflowed(const QString &hostIp);

private:
    QUdpSocket udp;
    bool dropOwnAddress = false;
    int sliceMs = BatchMs;
    std::function<bool(const QString &)> isListed;
    std::function<int()> listedCount;
    QString ownAddress;
    QElapsedTimer ownAddressAge; // since ownAddress was looked up
    int overflowCount = 0;
};

} // namespace discovery

#endif // MODULELISTENER_H
