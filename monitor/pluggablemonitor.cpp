#include "pluggablemonitor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace monitor {

const char PluggableMonitor::Protocol[] = "network";

namespace {

const char BaudName[] = "baudrate";

QByteArray message(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray ok(const char *eventType)
{
    return message({{QStringLiteral("eventType"), QLatin1String(eventType)}, {QStringLiteral("message"), "OK"}});
}

QByteArray failure(const char *eventType, const QString &text)
{
    return message({{QStringLiteral("eventType"), QLatin1String(eventType)},
                    {QStringLiteral("error"), true},
                    {QStringLiteral("message"), text}});
}

QByteArray describe()
{
    const QString baud = QString::number(PluggableMonitor::ModuleBaud);
    const QJsonObject baudrate{{QStringLiteral("label"), QStringLiteral("Baudrate")},
                               {QStringLiteral("type"), QStringLiteral("enum")},
                               {QStringLiteral("value"), QJsonArray{baud}},
                               {QStringLiteral("selected"), baud}};
    const QJsonObject port{{QStringLiteral("protocol"), QLatin1String(PluggableMonitor::Protocol)},
                           {QStringLiteral("configuration_parameters"), QJsonObject{{QLatin1String(BaudName), baudrate}}}};
    return message({{QStringLiteral("eventType"), QStringLiteral("describe")},
                    {QStringLiteral("message"), QStringLiteral("OK")},
                    {QStringLiteral("port_description"), port}});
}

} // namespace

PluggableMonitor::PluggableMonitor(Bridge *bridge)
    : bridge(bridge)
{
}

QByteArray PluggableMonitor::handle(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty())
        return QByteArray();
    const QList<QByteArray> words = trimmed.simplified().split(' ');
    const QByteArray command = words.first().toUpper();
    if (command == "QUIT") {
        if (opened)
            bridge->close();
        opened = false;
        quitting = true;
        return ok("quit");
    }
    if (command == "HELLO")
        return hello(trimmed.mid(words.first().size()).trimmed());
    if (!greeted)
        return failure("command_error", QStringLiteral("First command must be HELLO"));
    if (command == "DESCRIBE")
        return describe();
    if (command == "CONFIGURE")
        return configure(words);
    if (command == "OPEN")
        return open(words);
    if (command == "CLOSE") {
        if (!opened)
            return failure("close", QStringLiteral("port already closed"));
        bridge->close();
        opened = false;
        return ok("close");
    }
    return failure("command_error", QStringLiteral("Unknown command %1").arg(QString::fromUtf8(words.first())));
}

QByteArray PluggableMonitor::hello(const QByteArray &arguments)
{
    if (greeted)
        return failure("hello", QStringLiteral("HELLO already received"));
    const QByteArray version = arguments.split(' ').first();
    bool number = false;
    const int asked = version.toInt(&number);
    if (!number || asked < 1)
        return failure("hello", QStringLiteral("Invalid HELLO command: expected a protocol version of 1 or more"));
    greeted = true;
    return message({{QStringLiteral("eventType"), QStringLiteral("hello")},
                    {QStringLiteral("protocolVersion"), ProtocolVersion},
                    {QStringLiteral("message"), QStringLiteral("OK")}});
}

QByteArray PluggableMonitor::configure(const QList<QByteArray> &words)
{
    if (words.size() != 3)
        return failure("configure", QStringLiteral("Invalid CONFIGURE command: expected a name and a value"));
    const QString name = QString::fromUtf8(words.at(1));
    const QString value = QString::fromUtf8(words.at(2));
    if (name != QLatin1String(BaudName))
        return failure("configure", QStringLiteral("unknown parameter %1").arg(name));
    if (value != QString::number(ModuleBaud))
        return failure("configure", QStringLiteral("invalid value for parameter %1: %2 (the module's line speed "
                                                   "is fixed at %3)")
                                        .arg(name, value)
                                        .arg(ModuleBaud));
    return ok("configure");
}

QByteArray PluggableMonitor::open(const QList<QByteArray> &words)
{
    if (opened)
        return failure("open", QStringLiteral("port already opened"));
    if (words.size() != 3)
        return failure("open", QStringLiteral("Invalid OPEN command: expected the client's address and the port"));
    const QString error = bridge->open(QString::fromUtf8(words.at(1)), QString::fromUtf8(words.at(2)));
    if (!error.isEmpty())
        return failure("open", error);
    opened = true;
    return ok("open");
}

QByteArray PluggableMonitor::tooLong(int maxBytes)
{
    return failure("command_error", QStringLiteral("Command line longer than %1 bytes").arg(maxBytes));
}

QByteArray PluggableMonitor::portClosed(const QString &why)
{
    opened = false;
    return message({{QStringLiteral("eventType"), QStringLiteral("port_closed")},
                    {QStringLiteral("error"), true},
                    {QStringLiteral("message"), why}});
}

} // namespace monitor
