#ifndef DISCOVERYPROTOCOL_H
#define DISCOVERYPROTOCOL_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

namespace discovery {

// A module as a port of the sketch build tools: its announced values.
struct ToolPort
{
    QString address;  // the "host ip"
    QString hostName;
    QString dataPort; // announced texts; empty when not announced
    QString atPort;
    QString board;     // the board platform's id of the board behind it ("uno"); empty when not known
    QString boardName; // that board's name in the platform ("Arduino UNO via Wi-Fi")

    bool operator==(const ToolPort &other) const
    {
        return address == other.address && hostName == other.hostName && dataPort == other.dataPort
               && atPort == other.atPort && board == other.board && boardName == other.boardName;
    }
    bool operator!=(const ToolPort &other) const { return !(*this == other); }
};

// The discovery side of the sketch build tools' port protocol: command lines in, JSON messages
// out, one line each. Two clients speak it:
// - pluggable discovery version 1 (arduino-cli, Arduino IDE 2): HELLO first, then START/LIST/STOP
//   or START_SYNC/STOP, QUIT; ports carry `properties` (hostname, dataport, atport, and board
//   when the board is known, which the platform's `upload_port` keys match to name it);
// - Arduino IDE 1.8, whose first command is START_SYNC without HELLO ("legacy" form); its ports
//   carry `boardName` (shown beside the port in its Port menu) and `prefs` (`port` "DATA:AT" for
//   {network.port}, `ssh_upload` and `auth_upload` "no", without which its network uploader fails).
// Both get the same state machine and replies. Events go out only while syncing, and only once
// the caller has called startEvents() a moment after the start_sync reply: arduino-cli drops
// events that reach it before it has taken the reply in. Knows no sockets: the listener is
// reached through the two functions given to it.
class DiscoveryProtocol
{
public:
    struct Listener
    {
        std::function<bool(QString *error)> start; // listen for modules; false with the reason
        std::function<void()> stop;                // stop listening; the modules known are dropped
    };

    static const int ProtocolVersion = 1;
    static const int EventsDelay = 100; // ms from the start_sync reply to the first event

    explicit DiscoveryProtocol(Listener listener);

    // One command line, without its line end. The messages to write, in order.
    QList<QByteArray> command(const QByteArray &line);
    // The reply to a command line longer than `maxBytes`, which was not read.
    QList<QByteArray> tooLong(int maxBytes) const;
    // A module heard: an add event when syncing and the port is new or changed.
    QList<QByteArray> portHeard(const ToolPort &port);
    // Modules that fell silent: one remove event each for those known, when syncing.
    QList<QByteArray> portsGone(const QStringList &addresses);

    // START_SYNC was answered and events are held: call startEvents() after EventsDelay.
    bool eventsHeld() const { return state == State::Syncing && !eventsStarted; }
    // Lets events go out: one add for each port known so far.
    QList<QByteArray> startEvents();

    // QUIT was answered: the program ends.
    bool quitting() const { return state == State::Dead; }
    bool listening() const { return state == State::Running || state == State::Syncing; }
    bool legacy() const { return form == Form::Legacy; }

private:
    enum class State { Alive, Idle, Running, Syncing, Dead };
    enum class Form { Undecided, Version1, Legacy };

    QByteArray hello(const QByteArray &arguments);
    QByteArray start(const char *eventType, State next);
    QByteArray stop();
    QJsonObject portObject(const ToolPort &port) const;
    QByteArray addEvent(const ToolPort &port) const;

    Listener listener;
    State state = State::Alive;
    Form form = Form::Undecided;
    bool eventsStarted = false;
    QMap<QString, ToolPort> ports; // by address, as the client was told
};

} // namespace discovery

#endif // DISCOVERYPROTOCOL_H
