#include "commands.h"

#include "boarddisplay.h"
#include "boards.h"
#include "discoveryconstants.h"
#include "exitcodes.h"
#include "firmwarefile.h"
#include "hostname.h"
#include "identifycommand.h"
#include "interruptsignal.h"
#include "moduleboards.h"
#include "moduleports.h"
#include "modulescan.h"
#include "modulescommand.h"
#include "platform.h"
#include "progress.h"
#include "scanoutput.h"
#include "uploadbatch.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace cli {

namespace {

const char TimeoutScaleVariable[] = "QUARNEL_TEST_TIMEOUT_SCALE";

int milliseconds(double seconds)
{
    return int(std::lround(seconds * 1000));
}

QString secondsText(double seconds)
{
    return QString::number(seconds, 'g', 6);
}

// One line when the scan heard more modules than it lists.
void warnOverflow(const ModuleScan &scan)
{
    if (scan.overflow() > 0)
        fail(QStringLiteral("more than %1 modules announced themselves; %2 announcements of further "
                            "addresses were left out")
                 .arg(ModuleScan::MaxModules)
                 .arg(scan.overflow()));
}

} // namespace

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
                 .arg(secondsText(inv.seconds))
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

namespace {

// The boards of an upload: those named with --ip, their missing ports from their announcements,
// or with --all those heard whose host name matches --name. False (reported, *exitCode set)
// when there is nothing to upload to. When `stop` ends the listening, the boards known so far.
bool findBoards(const Invocation &inv, InterruptSignal *stop, QVector<Board> *boards, int *exitCode)
{
    const UploadTarget given{QString(), inv.dataPort, inv.atPort, inv.board};
    const bool needPorts = given.dataPort == 0 || given.atPort == 0;
    const discovery::KnownModules known = loadKnownModules();
    if (!inv.all && inv.ips.size() == 1) {
        Board board;
        board.target = given;
        board.target.ip = inv.ips.first();
        if (const discovery::KnownModule *module = known.find(board.target.ip)) {
            const discovery::Announcement listed = module->announcement();
            takeAnnouncement(&board, &listed, inv.seconds);
        } else if (needPorts
                   && !modulePorts(inv, known, stop, board.target.ip, &board.target.dataPort, &board.target.atPort,
                                   exitCode)) {
            return false;
        }
        boards->append(board);
        return true;
    }

    ModuleScan scan;
    QObject::connect(stop, &InterruptSignal::interrupted, &scan, &ModuleScan::interrupt);
    QString error;
    if ((inv.all || needPorts) && !scan.listen(discovery::AnnouncementPort, &error)) {
        fail(QStringLiteral("cannot listen on UDP port %1 for the modules' announcements: %2")
                 .arg(discovery::AnnouncementPort)
                 .arg(error));
        *exitCode = ExitLocalFailure;
        return false;
    }
    if (inv.all) {
        scan.probeKnown(known.modules());
        scan.listenFor(milliseconds(inv.seconds));
        QVector<discovery::Announcement> heard;
        for (const HeardModule &m : scan.modules())
            heard.append(m.announcement);
        *boards = boardsHeard(heard, inv.nameGlob, given);
        warnOverflow(scan);
        if (boards->isEmpty() && scan.interrupted()) {
            fail(QStringLiteral("interrupted before a module whose host name matches \"%1\" was heard; nothing "
                                "uploaded")
                     .arg(inv.nameGlob));
            *exitCode = stop->status();
            return false;
        }
        if (boards->isEmpty()) {
            fail(QStringLiteral("no module whose host name matches \"%1\" heard on UDP port %2 in %3 s; check "
                                "that the modules are on and on this network (quarnel-cli scan)")
                     .arg(inv.nameGlob)
                     .arg(discovery::AnnouncementPort)
                     .arg(secondsText(inv.seconds)));
            *exitCode = ExitUnreachable;
            return false;
        }
        return true;
    }
    const QDeadlineTimer deadline(milliseconds(inv.seconds));
    for (const QString &ip : inv.ips) {
        Board board;
        board.target = given;
        board.target.ip = ip;
        if (const discovery::KnownModule *module = known.find(ip)) {
            const discovery::Announcement listed = module->announcement();
            takeAnnouncement(&board, &listed, inv.seconds);
        } else if (needPorts) {
            const std::optional<discovery::Announcement> heard =
                scan.waitFor(QHostAddress(ip), int(qMax<qint64>(0, deadline.remainingTime())));
            // A board whose wait was cut short stays waiting: the upload does not start it.
            if (!scan.interrupted())
                takeAnnouncement(&board, heard ? &*heard : nullptr, inv.seconds);
        }
        boards->append(board);
    }
    return true;
}

// A known module that announced itself is the same module: the list keeps what it announced.
void rememberAnnounced(discovery::KnownModules *known, const QVector<HeardModule> &modules)
{
    for (const HeardModule &m : modules) {
        QString error;
        if (m.heard && m.known)
            known->takeAnnouncement(m.announcement, &error);
        if (!error.isEmpty())
            fail(error);
    }
}

} // namespace

bool testTimeoutScale(double *scale, QString *error)
{
    *scale = 1;
    if (!qEnvironmentVariableIsSet(TimeoutScaleVariable))
        return true;
    bool ok = false;
    const double value = qEnvironmentVariable(TimeoutScaleVariable).toDouble(&ok);
    if (!ok || !std::isfinite(value) || !(value > 0) || value > 1) {
        *error = QStringLiteral("%1 must be a number above 0, at most 1").arg(QLatin1String(TimeoutScaleVariable));
        return false;
    }
    *scale = value;
    return true;
}

int runScan(const Invocation &inv)
{
    ModuleScan scan;
    QString error;
    if (!scan.listen(discovery::AnnouncementPort, &error)) {
        fail(QStringLiteral("cannot listen on UDP port %1: %2").arg(discovery::AnnouncementPort).arg(error));
        return ExitLocalFailure;
    }
    discovery::KnownModules known = loadKnownModules();
    scan.probeKnown(known.modules());
    scan.listenFor(milliseconds(inv.seconds));

    const QVector<HeardModule> modules = scan.modules();
    rememberAnnounced(&known, modules);
    if (inv.json) {
        std::fputs(scanJson(modules, scan.nowMs()).constData(), stdout);
        std::fflush(stdout);
    } else if (!modules.isEmpty()) {
        std::fputs(scanTable(modules, scan.nowMs()).toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
    }
    warnOverflow(scan);
    if (modules.isEmpty()) {
        fail(QStringLiteral("no module heard on UDP port %1 in %2 s; check that the modules are on and on "
                            "this network, and that no firewall drops UDP port %1")
                 .arg(discovery::AnnouncementPort)
                 .arg(secondsText(inv.seconds)));
        return ExitUnreachable;
    }
    return ExitSuccess;
}

int runUpload(const Invocation &inv)
{
    double scale = 1;
    QString error;
    if (!testTimeoutScale(&scale, &error)) {
        fail(error);
        return ExitUsage;
    }
    if (!inv.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    // Each board at work holds open files; many boards need more than the usual soft limit.
    const qint64 openFileLimit = platform::raiseOpenFileLimit();
    // From before the temporary image exists to after it is removed: a stop signal, or a second
    // one, never leaves it behind.
    InterruptSignal interrupt;

    // Read and converted once, for every board.
    const FirmwareFile firmware = FirmwareFile::read(inv.hexPath);
    const QByteArray shownPath = QFile::encodeName(inv.hexPath);
    for (const QString &d : firmware.diagnostics)
        std::fprintf(stderr, "%s: %s\n", shownPath.constData(), d.toLocal8Bit().constData());
    if (!firmware.error.isEmpty()) {
        fail(QStringLiteral("HEX file %1: %2; nothing uploaded").arg(inv.hexPath, firmware.error));
        return ExitFirmwareFile;
    }

    // An image of this run's own, which every worker reads: the window's ./update.bin may be in
    // use at the same time.
    QTemporaryDir dir;
    const QString imagePath = dir.filePath(QStringLiteral("image.bin"));
    QFile image(imagePath);
    if (!dir.isValid() || !image.open(QIODevice::WriteOnly) || image.write(firmware.image) != firmware.image.size()
        || !image.flush()) {
        fail(QStringLiteral("cannot write the temporary image %1: %2").arg(imagePath, image.errorString()));
        return ExitLocalFailure;
    }
    image.close();
    interrupt.removeOnForcedEnd(imagePath, dir.path());

    QVector<Board> boards;
    int exitCode = ExitSuccess;
    if (!findBoards(inv, &interrupt, &boards, &exitCode))
        return exitCode;
    if (inv.board.isEmpty())
        chooseBoardTypes(&boards, inv.jobs, &interrupt);

    upload::UploadTimeouts timeouts;
    timeouts.reply = int(timeouts.reply * scale);
    timeouts.leaveProgramming = int(timeouts.leaveProgramming * scale);
    const int jobs = upload::UploadBatch::boardsAtOnce(inv.jobs, int(boards.size()), openFileLimit);
    upload::UploadBatch batch(QVector<upload::BatchJob>(boards.begin(), boards.end()),
                              {imagePath, timeouts, inv.verify, jobs, inv.retries, inv.hexPath});
    QObject::connect(&batch, &upload::UploadBatch::changed, [&](int index) {
        takeJob(&boards[index], batch.jobs().at(index), imagePath, firmware.image.size(), inv.verify,
                interrupt.status());
    });
    QObject::connect(&interrupt, &InterruptSignal::interrupted, &batch, &upload::UploadBatch::interrupt);
    if (interrupt.status() != 0)
        batch.interrupt();
    QEventLoop loop;
    QObject::connect(&batch, &upload::UploadBatch::finished, &loop, &QEventLoop::quit);

    // One board named with --ip shows what it always showed: a bar and one verdict line.
    if (!inv.all && boards.size() == 1 && !inv.json) {
        ProgressPrinter progress(stdout, isTerminal(stdout), boards.first().target.ip,
                                 inv.verify ? QStringLiteral("verifying") : QString());
        QObject::connect(&batch, &upload::UploadBatch::changed, &loop, [&progress, &boards](int) {
            const Board &b = boards.first();
            if (b.state != Board::State::Retrying) {
                progress.show(b.fraction);
                return;
            }
            progress.end();
            printLine(stdout, QStringLiteral("%1: %2").arg(b.target.ip, stateText(b)));
        });
        batch.start();
        loop.exec();
        progress.end();
        rememberWritten(boards);
        const Board &b = boards.first();
        printLine(b.exitCode == ExitSuccess ? stdout : stderr, b.verdictLine);
        return interrupt.status() != 0 ? interrupt.status() : b.exitCode;
    }

    FILE *displayOut = inv.json ? stderr : stdout;
    BoardDisplay display(displayOut, isTerminal(displayOut), &boards);
    QObject::connect(&batch, &upload::UploadBatch::changed, &display, &BoardDisplay::changed);
    batch.start();
    loop.exec();
    display.end();
    rememberWritten(boards);

    for (const Board &b : qAsConst(boards)) {
        if (b.state == Board::State::Failed)
            printLine(stderr, b.verdictLine);
    }
    exitCode = interrupt.status() != 0 ? interrupt.status() : worstExitCode(boards);
    const QByteArray summary = inv.json ? summaryJson(boards, inv.verify, exitCode)
                                        : summaryTable(boards, inv.verify).toLocal8Bit();
    std::fputs(summary.constData(), stdout);
    std::fflush(stdout);
    return exitCode;
}

int runRename(const Invocation &inv)
{
    discovery::KnownModules known = loadKnownModules();
    quint16 atPort = inv.atPort;
    int exitCode = ExitSuccess;
    if (atPort == 0 && !modulePorts(inv, known, nullptr, inv.ip, nullptr, &atPort, &exitCode))
        return exitCode;
    if (!config::sendHostName(inv.ip, atPort, inv.name)) {
        fail(QStringLiteral("cannot connect to the AT-command port %1 of %2 within %3 ms; check that the module "
                            "is on, that %1 is its AT-command port (quarnel-cli scan lists it) and that no other "
                            "program holds the connection")
                 .arg(atPort)
                 .arg(inv.ip)
                 .arg(config::RenameConnectTimeout));
        return ExitUnreachable;
    }
    printLine(stdout, QStringLiteral("quarnel-cli: %1: sent AT+HOSTNAME=%2 to AT-command port %3")
                          .arg(inv.ip, inv.name)
                          .arg(atPort));
    QString error;
    known.takeName(inv.ip, inv.name, &error);
    // The board behind the module stays its own under the new name.
    upload::ModuleBoards boards;
    boards.load();
    boards.takeName(inv.ip, inv.name, &error);
    if (!error.isEmpty())
        fail(error);
    return ExitSuccess;
}

} // namespace cli
