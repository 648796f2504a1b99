#include "modulescommand.h"

#include "commandline.h"
#include "commandsupport.h"
#include "exitcodes.h"
#include "scanoutput.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace cli {

namespace {

const char ModulesHelp[] =
    "Usage: quarnel-cli modules add IP [--data-port P] [--at-port P] [--name NAME]\n"
    "       quarnel-cli modules list [--json]\n"
    "       quarnel-cli modules remove IP\n"
    "Keeps a list of modules given by address, for networks where their announcements on UDP\n"
    "port 3333 do not arrive (client isolation, another subnet, a VPN, a firewall). The window\n"
    "shares the list. scan and upload --all include each listed module whose AT-command port\n"
    "accepts a connection; upload --ip and rename take its ports without waiting for an\n"
    "announcement. A listed module that does announce itself is one module: its announcement\n"
    "updates its name and ports.\n"
    "\n"
    "Options:\n"
    "  --data-port P    add: the module's data port (default 8000)\n"
    "  --at-port P      add: the module's AT-command port (default 8001)\n"
    "  --name NAME      add: the name shown until the module's own is known\n"
    "  --json           list: a JSON array of {ip, dataPort, atPort, hostname}\n"
    "  -h, --help       this text\n"
    "\n"
    "The list is the file %1.\n";

QList<QCommandLineOption> modulesOptions()
{
    return {valued("data-port", "P"), valued("at-port", "P"), valued("name", "NAME"), flag("json")};
}

void parseModules(Arguments &args, Invocation *inv)
{
    ModulesRequest *request = &inv->modules;
    QStringList positional = args.positional();
    const QString action = positional.isEmpty() ? QString() : positional.takeFirst();
    QStringList allowed;
    int operands = 1;
    if (action == QLatin1String("add")) {
        request->action = ModulesRequest::Action::Add;
        allowed = QStringList{"data-port", "at-port", "name"};
    } else if (action == QLatin1String("list")) {
        request->action = ModulesRequest::Action::List;
        allowed = QStringList{"json"};
        operands = 0;
    } else if (action == QLatin1String("remove")) {
        request->action = ModulesRequest::Action::Remove;
    } else {
        args.fail(action.isEmpty() ? QStringLiteral("expected add, list or remove")
                                   : QStringLiteral("unknown action \"%1\"; expected add, list or remove").arg(action));
        return;
    }
    for (const char *option : {"data-port", "at-port", "name", "json", "seconds"}) {
        if (args.isSet(option) && !allowed.contains(QLatin1String(option)))
            args.fail(QStringLiteral("%1 does not take --%2").arg(action, QLatin1String(option)));
    }
    if (positional.size() != operands) {
        args.fail(QStringLiteral("%1 expects %2, got %3 arguments")
                      .arg(action, operands ? QStringLiteral("one IP") : QStringLiteral("no argument"))
                      .arg(positional.size()));
        return;
    }
    request->json = args.isSet("json");
    if (request->action == ModulesRequest::Action::Remove
        && !discovery::parseModuleAddress(positional.first(), &request->module.ip))
        args.fail(QStringLiteral("\"%1\" is not a module's IPv4 address").arg(positional.first()));
    if (request->action != ModulesRequest::Action::Add)
        return;
    QString problem;
    const std::optional<discovery::KnownModule> module = discovery::knownModuleFromTexts(
        positional.first(), args.value("data-port"), args.value("at-port"), args.value("name"), &problem);
    if (module)
        request->module = *module;
    else
        args.fail(problem);
}

QString modulesHelp()
{
    return QString::fromLatin1(ModulesHelp).arg(QDir::toNativeSeparators(discovery::KnownModules::defaultPath()))
           + QLatin1String(ModulesExitHelp);
}

} // namespace

discovery::KnownModules loadKnownModules(const QString &path)
{
    discovery::KnownModules known(path);
    for (const QString &problem : known.load())
        fail(problem);
    return known;
}

QString knownTable(const QVector<discovery::KnownModule> &modules)
{
    QVector<QStringList> rows{{QStringLiteral("IP"), QStringLiteral("DATA"), QStringLiteral("AT"), QStringLiteral("HOSTNAME")}};
    for (const discovery::KnownModule &m : modules)
        rows.append({m.ip, QString::number(m.dataPort), QString::number(m.atPort), printableText(m.name, false)});
    return alignedColumns(rows);
}

QByteArray knownJson(const QVector<discovery::KnownModule> &modules)
{
    QJsonArray list;
    for (const discovery::KnownModule &m : modules)
        list.append(QJsonObject{{QStringLiteral("ip"), m.ip},
                                {QStringLiteral("dataPort"), m.dataPort},
                                {QStringLiteral("atPort"), m.atPort},
                                {QStringLiteral("hostname"), m.name}});
    return QJsonDocument(list).toJson(QJsonDocument::Indented);
}

namespace {

int runModules(const Invocation &inv)
{
    const ModulesRequest &request = inv.modules;
    discovery::KnownModules known = loadKnownModules();
    QString error;
    switch (request.action) {
    case ModulesRequest::Action::List:
        if (request.json)
            std::fputs(knownJson(known.modules()).constData(), stdout);
        else
            std::fputs(knownTable(known.modules()).toLocal8Bit().constData(), stdout);
        return ExitSuccess;
    case ModulesRequest::Action::Add: {
        const discovery::KnownModule &m = request.module;
        if (!known.add(m, &error))
            break;
        printLine(stdout, QStringLiteral("quarnel-cli: %1 added (data port %2, AT-command port %3)")
                              .arg(m.ip)
                              .arg(m.dataPort)
                              .arg(m.atPort));
        return ExitSuccess;
    }
    case ModulesRequest::Action::Remove:
        if (!known.find(request.module.ip)) {
            fail(QStringLiteral("modules: %1 is not listed (quarnel-cli modules list)").arg(request.module.ip));
            return ExitUsage;
        }
        if (!known.remove(request.module.ip, &error))
            break;
        printLine(stdout, QStringLiteral("quarnel-cli: %1 removed").arg(request.module.ip));
        return ExitSuccess;
    }
    fail(error);
    return ExitLocalFailure;
}

} // namespace

const CommandRow ModulesCommand = {
    Command::Modules, "modules",
    "add, list or remove modules given by address (for networks that drop announcements)",
    modulesOptions, parseModules, modulesHelp, runModules};

} // namespace cli
