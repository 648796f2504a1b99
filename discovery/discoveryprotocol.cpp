#include "discoveryprotocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace discovery {

namespace {

const char Protocol[] = "network"; // the Arduino IDE 1.8 uploads through its network uploader only to these
const char ProtocolLabel[] = "Quarnel Wi-Fi modules";
const char Ok[] = "OK";

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray okReply(const char *eventType)
{
    return json({{"eventType", eventType}, {"message", Ok}});
}

QByteArray errorReply(const char *eventType, const QString &message)
{
    return json({{"eventType", eventType}, {"error", true}, {"message", message}});
}

} // namespace

DiscoveryProtocol::DiscoveryProtocol(Listener listener)
    : listener(std::move(listener))
{
}

QList<QByteArray> DiscoveryProtocol::tooLong(int maxBytes) const
{
    if (state == State::Dead)
        return {};
    return {errorReply("command_error", QStringLiteral("Command line longer than %1 bytes").arg(maxBytes))};
}

QList<QByteArray> DiscoveryProtocol::command(const QByteArray &line)
{
    if (state == State::Dead)
        return {};
    const QByteArray trimmed = line.trimmed();
    const int blank = trimmed.indexOf(' ');
    const QByteArray name = (blank < 0 ? trimmed : trimmed.left(blank)).toUpper();
    const QByteArray arguments = blank < 0 ? QByteArray() : trimmed.mid(blank + 1);

    if (name == "QUIT") {
        if (listening())
            listener.stop();
        ports.clear();
        state = State::Dead;
        return {okReply("quit")};
    }
    if (state == State::Alive) {
        if (name == "HELLO")
            return {hello(arguments)};
        if (name != "START_SYNC" || !arguments.isEmpty())
            return {errorReply("command_error", QStringLiteral("First command must be HELLO"))};
        // The Arduino IDE 1.8 starts with START_SYNC and never says HELLO.
        form = Form::Legacy;
        state = State::Idle;
    }
    if (!arguments.isEmpty() && name != "HELLO")
        return {errorReply("command_error", QStringLiteral("Unknown command %1").arg(QString::fromUtf8(trimmed)))};
    if (name == "HELLO")
        return {errorReply("hello", QStringLiteral("HELLO already called"))};
    if (name == "START") {
        if (state == State::Syncing)
            return {errorReply("start", QStringLiteral("Discovery already START_SYNCed, cannot START"))};
        if (state == State::Running)
            return {errorReply("start", QStringLiteral("Discovery already STARTed"))};
        return {start("start", State::Running)};
    }
    if (name == "START_SYNC") {
        if (state == State::Syncing)
            return {errorReply("start_sync", QStringLiteral("Discovery already START_SYNCed"))};
        if (state == State::Running)
            return {errorReply("start_sync", QStringLiteral("Discovery already STARTed, cannot START_SYNC"))};
        return {start("start_sync", State::Syncing)};
    }
    if (name == "LIST") {
        if (state == State::Syncing)
            return {errorReply("list", QStringLiteral("Discovery already START_SYNCed, LIST not allowed"))};
        if (state != State::Running)
            return {errorReply("list", QStringLiteral("Discovery not STARTed"))};
        QJsonArray list;
        for (const ToolPort &port : qAsConst(ports))
            list.append(portObject(port));
        return {json({{"eventType", "list"}, {"ports", list}})};
    }
    if (name == "STOP")
        return {stop()};
    return {errorReply("command_error", QStringLiteral("Unknown command %1").arg(QString::fromUtf8(trimmed)))};
}

QByteArray DiscoveryProtocol::hello(const QByteArray &arguments)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,9}) \"([^\"]*)\"$"));
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(arguments));
    if (!match.hasMatch())
        return errorReply("hello", QStringLiteral("Invalid HELLO command"));
    if (match.captured(1).toInt() < ProtocolVersion)
        return errorReply("hello", QStringLiteral("Unsupported protocol version %1").arg(match.captured(1)));
    form = Form::Version1;
    state = State::Idle;
    return json({{"eventType", "hello"}, {"message", Ok}, {"protocolVersion", ProtocolVersion}});
}

QByteArray DiscoveryProtocol::start(const char *eventType, State next)
{
    QString error;
    if (!listener.start(&error)) {
        const QString command = next == State::Syncing ? QStringLiteral("start sync") : QStringLiteral("start");
        return errorReply(eventType, QStringLiteral("Cannot %1: %2").arg(command, error));
    }
    state = next;
    eventsStarted = false;
    return okReply(eventType);
}

QList<QByteArray> DiscoveryProtocol::startEvents()
{
    if (!eventsHeld())
        return {};
    eventsStarted = true;
    QList<QByteArray> events;
    for (const ToolPort &port : qAsConst(ports))
        events << addEvent(port);
    return events;
}

QByteArray DiscoveryProtocol::stop()
{
    if (!listening())
        return errorReply("stop", QStringLiteral("Discovery already STOPped"));
    listener.stop();
    ports.clear();
    state = State::Idle;
    return okReply("stop");
}

QList<QByteArray> DiscoveryProtocol::portHeard(const ToolPort &port)
{
    if (!listening())
        return {};
    auto known = ports.find(port.address);
    if (known != ports.end() && *known == port)
        return {};
    ports.insert(port.address, port);
    if (state != State::Syncing || !eventsStarted)
        return {};
    return {addEvent(port)};
}

QByteArray DiscoveryProtocol::addEvent(const ToolPort &port) const
{
    return json({{"eventType", "add"}, {"port", portObject(port)}});
}

QList<QByteArray> DiscoveryProtocol::portsGone(const QStringList &addresses)
{
    QList<QByteArray> events;
    for (const QString &address : addresses) {
        if (ports.remove(address) == 0 || state != State::Syncing || !eventsStarted)
            continue;
        events << json({{"eventType", "remove"}, {"port", QJsonObject{{"address", address}, {"protocol", Protocol}}}});
    }
    return events;
}

QJsonObject DiscoveryProtocol::portObject(const ToolPort &port) const
{
    QJsonObject object{{"address", port.address},
                       {"label", QStringLiteral("%1 at %2").arg(port.hostName, port.address)},
                       {"protocol", Protocol},
                       {"protocolLabel", ProtocolLabel}};
    if (form == Form::Legacy) {
        object.insert("boardName", port.boardName);
        object.insert("prefs", QJsonObject{{"port", port.dataPort + QLatin1Char(':') + port.atPort},
                                           {"ssh_upload", "no"},
                                           {"auth_upload", "no"}});
    } else {
        QJsonObject properties{{"hostname", port.hostName}, {"dataport", port.dataPort}, {"atport", port.atPort}};
        if (!port.board.isEmpty())
            properties.insert("board", port.board);
        object.insert("properties", properties);
    }
    return object;
}

} // namespace discovery
