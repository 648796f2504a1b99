#include "commandsupport.h"

#include "discoveryconstants.h"
#include "exitcodes.h"
#include "interruptsignal.h"
#include "moduleports.h"
#include "modulescan.h"

#include <QHostAddress>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace cli {

int milliseconds(double seconds)
{
    return int(std::lround(seconds * 1000));
}

QString givenSeconds(double seconds)
{
    return QString::number(seconds, 'g', 6);
}

void warnOverflow(const ModuleScan &scan)
{
    if (scan.overflow() > 0)
        fail(QStringLiteral("more than %1 modules announced themselves; %2 announcements of further "
                            "addresses were left out")
                 .arg(ModuleScan::MaxModules)
                 .arg(scan.overflow()));
}

void printLine(FILE *stream, const QString &line)
{
    std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stream);
}

void fail(const QString &line)
{
    printLine(stderr, QStringLiteral("quarnel-cli: ") + line);
}

int outputChecked(FILE *stream, bool wasOpen, int exitCode)
{
    QString why;
    if (!wasOpen)
        why = QStringLiteral("is closed");
    else if (std::fflush(stream) != 0 || std::ferror(stream))
        why = QStringLiteral("could not be written (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (why.isEmpty())
        return exitCode;
    fail(QStringLiteral("standard output %1: the result is lost").arg(why));
    return exitCode == ExitSuccess ? ExitOutputLost : exitCode;
}

bool modulePorts(const Invocation &inv, const discovery::KnownModules &known, InterruptSignal *stop, const QString &ip,
                 quint16 *dataPort, quint16 *atPort, int *exitCode, QString *hostName)
{
    if (portsFromKnown(known, ip, dataPort, atPort)) {
        if (hostName)
            *hostName = known.find(ip)->name;
        return true;
    }
    ModuleScan scan;
    if (stop)
        QObject::connect(stop, &InterruptSignal::interrupted, &scan, &ModuleScan::interrupt);
    QString error;
    if (!scan.listen(discovery::AnnouncementPort, &error)) {
        fail(QStringLiteral("cannot listen on UDP port %1 for the module's announcement: %2; give the ports "
                            "with --data-port and --at-port")
                 .arg(discovery::AnnouncementPort)
                 .arg(error));
        *exitCode = ExitLocalFailure;
        return false;
    }
    const std::optional<discovery::Announcement> heard = scan.waitFor(QHostAddress(ip), milliseconds(inv.seconds));
    if (stop && scan.interrupted()) {
        fail(QStringLiteral("interrupted while waiting for the announcement of %1; nothing uploaded").arg(ip));
        *exitCode = stop->status();
        return false;
    }
    if (!heard) {
        fail(QStringLiteral("no announcement from %1 on UDP port %2 within %3 s; check that the module is on "
                            "and on this network (quarnel-cli scan), or give its ports with %4")
                 .arg(ip)
                 .arg(discovery::AnnouncementPort)
                 .arg(givenSeconds(inv.seconds))
                 .arg(dataPort && atPort ? QStringLiteral("--data-port and --at-port")
                                         : dataPort ? QStringLiteral("--data-port") : QStringLiteral("--at-port")));
        *exitCode = ExitUnreachable;
        return false;
    }
    if (hostName)
        *hostName = heard->hostName;
    const std::optional<MissingPort> missing = resolvePorts(*heard, dataPort, atPort);
    if (!missing)
        return true;
    fail(QStringLiteral("%1 announces the %2 \"%3\", which is no port number; give it with %4")
             .arg(ip, QLatin1String(missing->what), missing->announced, QLatin1String(missing->option)));
    *exitCode = ExitUnreachable;
    return false;
}

} // namespace cli
