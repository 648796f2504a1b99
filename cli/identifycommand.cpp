#include "identifycommand.h"

#include "commandsupport.h"
#include "exitcodes.h"
#include "interruptsignal.h"
#include "moduleboards.h"
#include "moduleports.h"
#include "modulescommand.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace cli {

namespace {

const char IdentifyHelp[] =
    "Usage: quarnel-cli identify --ip IP [--module-ports DATA:AT | --data-port P --at-port P]\n"
    "                            [--seconds N] [--json]\n"
    "Tells which board is behind a module without writing its flash: switches the module to\n"
    "upload mode (the board resets into its bootloader), finds which bootloader answers through\n"
    "whatever the board prints (STK500 version 1 first, within Optiboot's wait, else version 2),\n"
    "reads the chip's signature and leaves programming mode, so the board's application starts\n"
    "again. Prints the board type, chip, signature and protocol, and remembers the board type\n"
    "for the module (the window's Device box, quarnel-cli upload without --board and the sketch\n"
    "build tools' port list use it). %1 share the ATmega2560: such a module keeps the one of\n"
    "them chosen last, else MEGA2560.\n"
    "\n"
    "Options:\n"
    "  --ip IP          the module's IPv4 address\n"
    "  --data-port P    the module's data port\n"
    "  --at-port P      the module's AT-command port; a port not given is taken from the\n"
    "                   module's announcement on UDP port 3333\n"
    "  --module-ports DATA:AT\n"
    "                   both ports in one argument\n"
    "  --seconds N      wait at most N seconds for that announcement (default 5)\n"
    "  --json           print {\"ip\", \"board\", \"protocol\", \"signature\"} (and \"error\" when\n"
    "                   the board was not identified)\n"
    "  --verbose        the protocol trace lines on standard error\n"
    "  -h, --help       this text\n"
    "\n";

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

// What went wrong and what to check, after "IP: ".
QString problem(const upload::Identification &id, quint16 dataPort, quint16 atPort)
{
    using Result = upload::Identification::Result;
    switch (id.result) {
    case Result::Identified:
        break;
    case Result::UnknownChip:
        return QStringLiteral("the bootloader (%1) answers with signature %2, a chip no board type has (%3)")
            .arg(id.protocolName(), id.signatureHex(), upload::boardNames().join(QLatin1String(", ")));
    case Result::NoBootloader:
        return QStringLiteral("no bootloader identified: %1; check that the module's serial line reaches the board's "
                              "reset and RX/TX, and that the board has its bootloader")
            .arg(id.failure.text());
    case Result::Unreachable:
        return QStringLiteral("%1; check that the module is on and that %2 and %3 are its data and AT-command ports "
                              "(quarnel-cli scan lists them)")
            .arg(id.failure.text())
            .arg(dataPort)
            .arg(atPort);
    }
    return QString();
}

QList<QCommandLineOption> identifyOptions()
{
    return {valued("ip", "IP"), valued("data-port", "P"), valued("at-port", "P"), valued("module-ports", "DATA:AT"),
            flag("json"), flag("verbose")};
}

void parseIdentify(Arguments &args, Invocation *inv)
{
    args.seconds(DefaultAnnouncementSeconds, &inv->seconds);
    args.ip(&inv->ip);
    args.modulePorts(&inv->dataPort, &inv->atPort);
    inv->json = args.isSet("json");
    inv->verbose = args.isSet("verbose");
    args.noPositional();
}

QString identifyHelp()
{
    const upload::Board &mega = upload::Boards[0];
    QStringList sharing;
    for (const upload::Board &board : upload::Boards) {
        if (board.signatureBytes() == mega.signatureBytes())
            sharing << QLatin1String(board.name);
    }
    return QString::fromLatin1(IdentifyHelp).arg(sharing.join(QLatin1String(", "))) + QLatin1String(IdentifyExitHelp);
}

} // namespace

QByteArray identificationJson(const QString &ip, const upload::Identification &id, const upload::Board *kept,
                              const QString &error)
{
    QJsonObject object{{"ip", ip},
                       {"board", kept ? QJsonValue(QLatin1String(kept->name)) : QJsonValue(QJsonValue::Null)},
                       {"protocol", id.answered() ? QJsonValue(id.protocolName()) : QJsonValue(QJsonValue::Null)},
                       {"signature", textOrNull(id.signatureHex())}};
    if (!error.isEmpty())
        object.insert("error", error);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

int identificationExitCode(upload::Identification::Result result)
{
    switch (result) {
    case upload::Identification::Result::Identified:
        return ExitSuccess;
    case upload::Identification::Result::Unreachable:
        return ExitUnreachable;
    case upload::Identification::Result::UnknownChip:
    case upload::Identification::Result::NoBootloader:
        break;
    }
    return ExitUploadFailed;
}

namespace {

int runIdentify(const Invocation &inv)
{
    if (!inv.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    quint16 dataPort = inv.dataPort;
    quint16 atPort = inv.atPort;
    QString hostName;
    const discovery::KnownModules known = loadKnownModules();
    if (const discovery::KnownModule *listed = known.find(inv.ip))
        hostName = listed->name;
    if (dataPort == 0 || atPort == 0) {
        int exitCode = ExitSuccess;
        if (!modulePorts(inv, known, nullptr, inv.ip, &dataPort, &atPort, &exitCode, &hostName))
            return exitCode;
    }

    const upload::Identification id = upload::identifyBoard(inv.ip, dataPort, atPort, upload::UploadTimeouts());
    const upload::Board *kept = nullptr;
    if (id.result == upload::Identification::Result::Identified) {
        upload::ModuleBoards boards;
        for (const QString &line : boards.load())
            fail(line);
        kept = &upload::boardToKeep(*id.board, boards.boardOf(inv.ip, hostName));
        QString error;
        if (!boards.remember(inv.ip, hostName, *kept, &error))
            fail(error);
    }
    if (id.answered() && !id.left)
        fail(QStringLiteral("%1: the bootloader did not confirm leaving programming mode; the board's application "
                            "starts once the bootloader's own wait is over")
                 .arg(inv.ip));
    const QString error = problem(id, dataPort, atPort);
    if (!error.isEmpty())
        fail(QStringLiteral("%1: %2").arg(inv.ip, error));
    if (inv.json) {
        std::fputs(identificationJson(inv.ip, id, kept, error).constData(), stdout);
        std::fflush(stdout);
    } else if (kept) {
        printLine(stdout, QStringLiteral("%1: %2 (%3), signature %4, %5")
                              .arg(inv.ip, QLatin1String(kept->name), QLatin1String(kept->chip), id.signatureHex(),
                                   id.protocolName()));
    }
    return identificationExitCode(id.result);
}

} // namespace

const CommandRow IdentifyCommand = {
    Command::Identify, "identify",
    "tell which board is behind a module, without writing it",
    identifyOptions, parseIdentify, identifyHelp, runIdentify};

void chooseBoardTypes(QVector<Board> *boards, int jobs, InterruptSignal *stop)
{
    upload::ModuleBoards store;
    for (const QString &line : store.load())
        fail(line);
    QVector<int> unknown;
    for (int i = 0; i < boards->size(); ++i) {
        Board &b = (*boards)[i];
        if (b.state != Board::State::Waiting || !b.target.board.isEmpty())
            continue;
        if (const upload::Board *kept = store.boardOf(b.target.ip, b.hostName))
            b.target.board = QLatin1String(kept->name);
        else
            unknown << i;
    }
    if (unknown.isEmpty())
        return;

    QEventLoop loop;
    std::vector<std::unique_ptr<upload::IdentifyThread>> threads;
    QVector<upload::ModuleBoards::Learned> learned;
    int next = 0;
    int running = 0;
    bool stopped = false;
    const auto identified = [&](int index, const QString &board, const QString &text, int result) {
        Board &b = (*boards)[index];
        if (const upload::Board *found = upload::findBoard(board)) {
            b.target.board = board;
            learned.append({b.target.ip, b.hostName, found});
            fail(QStringLiteral("%1: board type not known; identified as %2").arg(b.target.ip, text));
            return;
        }
        if (stopped)
            return;
        b.state = Board::State::Failed;
        b.failure = QStringLiteral("board not identified: ") + text;
        b.exitCode = identificationExitCode(upload::Identification::Result(result));
        b.verdictLine = QStringLiteral("quarnel-cli: upload to %1 failed: %2; check the module and the board "
                                       "(quarnel-cli identify --ip %1), or give the board type with --board")
                            .arg(b.target.ip, b.failure);
    };
    const std::function<void()> startMore = [&] {
        while (!stopped && (jobs == 0 || running < jobs) && next < unknown.size()) {
            const int index = unknown.at(next++);
            const Board &b = boards->at(index);
            threads.push_back(std::make_unique<upload::IdentifyThread>(b.target.ip, b.target.dataPort, b.target.atPort));
            upload::IdentifyThread *thread = threads.back().get();
            QObject::connect(thread, &upload::IdentifyThread::identified, &loop,
                             [&, index](const QString &, const QString &board, const QString &text, int result) {
                                 identified(index, board, text, result);
                             });
            QObject::connect(thread, &QThread::finished, &loop, [&] {
                --running;
                startMore();
                if (running == 0)
                    loop.quit();
            });
            ++running;
            thread->start();
        }
    };
    QObject::connect(stop, &InterruptSignal::interrupted, &loop, [&] {
        stopped = true;
        for (const auto &thread : threads)
            thread->requestInterruption();
    });
    stopped = stop->status() != 0;
    startMore();
    if (running > 0)
        loop.exec();
    for (const auto &thread : threads)
        thread->wait();
    QString error;
    if (!learned.isEmpty() && !store.remember(learned, &error))
        fail(error);
    // A module takes a new client on its data port only a moment after the last one left.
    if (!stopped) {
        QTimer::singleShot(upload::UploadTimeouts().retryPause, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void rememberWritten(const QVector<Board> &boards)
{
    upload::ModuleBoards store;
    store.load();
    QVector<upload::ModuleBoards::Learned> written;
    for (const Board &b : boards) {
        if (b.state == Board::State::Done)
            written.append({b.target.ip, b.hostName, upload::findBoard(b.target.board)});
    }
    QString error;
    if (!written.isEmpty() && !store.remember(written, &error))
        fail(error);
}

} // namespace cli
