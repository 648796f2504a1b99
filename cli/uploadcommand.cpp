#include "uploadcommand.h"

#include "boardtable.h"
#include "boarddisplay.h"
#include "boards.h"
#include "commandsupport.h"
#include "discoveryconstants.h"
#include "exitcodes.h"
#include "firmwarefile.h"
#include "identifycommand.h"
#include "interruptsignal.h"
#include "modulescan.h"
#include "modulescommand.h"
#include "platform.h"
#include "progress.h"
#include "uploadbatch.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

namespace cli {

namespace {

const char TimeoutScaleVariable[] = "QUARNEL_TEST_TIMEOUT_SCALE";

const char UploadHelp[] =
    "Usage: quarnel-cli upload (--ip IP [--ip IP ...] | --all [--name GLOB]) [--board BOARD]\n"
    "                          [options] FILE.hex\n"
    "Converts FILE.hex once into a flash image in a temporary directory (never ./update.bin)\n"
    "and writes it into the board behind each module through the board's serial bootloader:\n"
    "STK500 version 1 for %1, version 2 for %2, all boards at once.\n"
    "A HEX file with malformed records or without its end record is refused.\n"
    "One board: a progress bar on a terminal, otherwise one line per new percentage. Several\n"
    "boards: one line per board redrawn in place on a terminal, otherwise one line per event;\n"
    "then a table (IP, host name, bytes, seconds, retries, result) and the line\n"
    "\"N of M boards written[ and verified]\".\n"
    "\n"
    "Options:\n"
    "  --ip IP          a module's IPv4 address; repeat it for several boards\n"
    "  --all            every module heard on UDP port 3333 within --seconds (default 3)\n"
    "  --name GLOB      with --all: only modules whose host name matches GLOB ('*' any text,\n"
    "                   '?' one character), for example 'uno-*'\n"
    "  --board BOARD    %3 (letter case does not matter); one\n"
    "                   board type per command. Without it, each board is written as the type\n"
    "                   remembered for its module (quarnel-cli identify, an earlier upload, the\n"
    "                   window's Device box); a module whose type is not known is identified\n"
    "                   first, as quarnel-cli identify does\n"
    "  --data-port P    the modules' data port\n"
    "  --at-port P      the modules' AT-command port; a port not given is taken from each\n"
    "                   module's announcement on UDP port 3333\n"
    "  --module-ports DATA:AT\n"
    "                   the data and AT-command ports in one argument, as the sketch build\n"
    "                   tools pass them; a side left empty (or an unexpanded {...} placeholder)\n"
    "                   is taken from the known modules or the announcement\n"
    "  --seconds N      wait at most N seconds for those announcements (default 5)\n"
    "  --jobs N         write at most N boards at the same time (default: all, as many as\n"
    "                   the open-file limit allows)\n"
    "  --retries K      when a board stops answering after the mode switch, connect again and\n"
    "                   go on from the first page not acknowledged, at most K times per board\n"
    "                   (default 0)\n"
    "  --verify         read the flash back through the bootloader and compare it with the\n"
    "                   image; a difference names the first differing address\n"
    "  --verify-upload true|false\n"
    "                   --verify when true, as the Arduino IDE's \"Verify code after upload\"\n"
    "                   passes it\n"
    "  --json           print the summary as JSON (the display goes to standard error)\n"
    "  --verbose        the protocol trace lines on standard error\n"
    "  -h, --help       this text\n"
    "\n";

QString boardList()
{
    return upload::boardNames().join(QLatin1String(", "));
}

// Upload's boards: every --ip (each once), or --all with an optional --name.
void parseTargets(Arguments &args, Invocation *inv)
{
    inv->all = args.isSet("all");
    if (inv->all && args.isSet("ip"))
        args.fail(QStringLiteral("--ip and --all exclude each other"));
    else if (!inv->all && !args.isSet("ip"))
        args.fail(QStringLiteral("--ip or --all is required"));
    if (args.isSet("name") && !inv->all)
        args.fail(QStringLiteral("--name needs --all"));
    inv->nameGlob = args.isSet("name") ? args.value("name") : QStringLiteral("*");
    if (inv->nameGlob.isEmpty())
        args.fail(QStringLiteral("--name: the pattern is empty"));
    for (const QString &text : args.values("ip")) {
        QString canonical;
        if (!args.address(text, &canonical))
            continue;
        if (inv->ips.contains(canonical))
            args.fail(QStringLiteral("--ip %1: given twice").arg(text));
        else
            inv->ips << canonical;
    }
}

// upload: the boards, their board type and ports, the run's settings, the HEX file.
QList<QCommandLineOption> uploadOptions()
{
    return {valued("ip", "IP"),        valued("board", "BOARD"), valued("data-port", "P"), valued("at-port", "P"),
            flag("verify"),            flag("verbose"),          flag("all"),              valued("name", "GLOB"),
            valued("jobs", "N"),       valued("retries", "K"),   flag("json"),
            valued("module-ports", "DATA:AT"), valued("verify-upload", "BOOL")};
}

void parseUpload(Arguments &args, Invocation *inv)
{
    args.seconds(args.isSet("all") ? DefaultScanSeconds : DefaultAnnouncementSeconds, &inv->seconds);
    parseTargets(args, inv);
    args.modulePorts(&inv->dataPort, &inv->atPort);
    if (args.isSet("board") && !parseBoard(args.value("board"), &inv->board))
        args.fail(QStringLiteral("--board %1: unknown board; expected one of %2").arg(args.value("board"), boardList()));
    inv->verify = args.isSet("verify");
    if (args.isSet("verify-upload")) {
        const QString setting = args.value("verify-upload");
        if (setting != QLatin1String("true") && setting != QLatin1String("false"))
            args.fail(QStringLiteral("--verify-upload %1: expected true or false").arg(setting));
        else if (inv->verify && setting == QLatin1String("false"))
            args.fail(QStringLiteral("--verify and --verify-upload false contradict each other"));
        inv->verify = setting == QLatin1String("true");
    }
    inv->verbose = args.isSet("verbose");
    inv->json = args.isSet("json");
    if (args.isSet("jobs") && !parseCount(args.value("jobs"), 1, MaxJobs, &inv->jobs))
        args.fail(QStringLiteral("--jobs %1: expected a number of boards 1..%2").arg(args.value("jobs")).arg(MaxJobs));
    if (args.isSet("retries") && !parseCount(args.value("retries"), 0, MaxRetries, &inv->retries))
        args.fail(QStringLiteral("--retries %1: expected a number 0..%2").arg(args.value("retries")).arg(MaxRetries));
    const QStringList positional = args.positional();
    if (positional.size() != 1)
        args.fail(QStringLiteral("expected one HEX file, got %1 arguments").arg(positional.size()));
    else
        inv->hexPath = positional.first();
}

QString uploadHelp()
{
    const upload::Protocol v1 = upload::Protocol::Stk500v1;
    const upload::Protocol v2 = upload::Protocol::Stk500v2;
    const QStringList v1Boards = upload::boardNames(&v1);
    const QStringList v2Boards = upload::boardNames(&v2);
    return QString::fromLatin1(UploadHelp).arg(spoken(v1Boards, "and"), spoken(v2Boards, "and"),
                                               spoken(v1Boards + v2Boards, "or"))
           + QLatin1String(UploadExitHelp);
}

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
                     .arg(givenSeconds(inv.seconds)));
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

namespace {

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

} // namespace

const CommandRow UploadCommand = {
    Command::Upload, "upload",
    "convert an Intel HEX file and write it into one board or many",
    uploadOptions, parseUpload, uploadHelp, runUpload};

} // namespace cli
