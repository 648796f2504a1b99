// quarnel-sim: simulated Wi-Fi modules in front of simulated AVR boards; see --help.
#include "controlserver.h"
#include "hexfile.h"
#include "module.h"
#include "quarnelversion.h"
#include "simoptions.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop through a socket pair, so the modules stop in order.
bool installStopSignals(QCoreApplication *app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

// Each module holds up to four sockets; a thousand modules need more than the usual soft limit.
void raiseFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int fail(const QString &message)
{
    std::fprintf(stderr, "quarnel-sim: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().mid(1) == QStringList{QStringLiteral("--version")}) {
        std::printf("quarnel-sim %s\n", QUARNEL_VERSION);
        return 0;
    }
    sim::SimOptions options;
    QString error;
    bool help = false;
    if (!sim::parseSimOptions(app.arguments().mid(1), &options, &error, &help))
        return fail(error);
    if (help) {
        std::fputs(qPrintable(sim::simHelpText()), stdout);
        return 0;
    }
    QByteArray application;
    if (!options.appPath.isEmpty()) {
        const sim::HexImage image = sim::readIntelHexFile(options.appPath, sim::boardFlashSize(options.board));
        if (!image.error.isEmpty())
            return fail(QStringLiteral("%1: %2").arg(options.appPath, image.error));
        application = image.bytes;
    }
    raiseFileLimit();
    if (!installStopSignals(&app))
        return fail(QStringLiteral("cannot install the signal handlers"));

    QList<sim::Module *> modules;
    const auto stopAll = [&modules] {
        for (sim::Module *module : modules)
            module->stop();
        qDeleteAll(modules);
        modules.clear();
    };
    quint16 dataPort = options.dataPort;
    quint16 atPort = options.atPort;
    for (int i = 0; i < options.count; ++i) {
        sim::Module::Config config;
        config.ip = sim::moduleAddress(options, i);
        config.board = options.board;
        config.hostname = sim::moduleName(options, i);
        config.dataPort = dataPort;
        config.atPort = atPort;
        config.announceMs = options.announceMs;
        config.announcePhaseMs = int(qint64(options.announceMs) * i / options.count);
        config.targetHost = options.targetHost;
        config.targetPort = options.targetPort;
        config.baud = options.baud;
        config.quietMs = options.quietMs;
        config.forgivingUart = options.forgivingUart;
        config.relistenMs = options.relistenMs;
        config.answerBeforeReset = options.answerBeforeReset;
        config.application = application;
        config.flashOutPath = sim::moduleFlashOutPath(options, i);
        config.faults = options.faults;
        auto *module = new sim::Module(config);
        modules.append(module);
        if (!module->start(&error)) {
            stopAll();
            return fail(error);
        }
        // Ports picked by the system for the first module are used by all the others.
        dataPort = module->dataPort();
        atPort = module->atPort();
    }

    sim::ControlServer control(modules);
    if (options.controlPort >= 0 && !control.listen(options.ip, quint16(options.controlPort), &error)) {
        stopAll();
        return fail(error);
    }

    std::printf("quarnel-sim ready: ip=%s count=%d board=%s data-port=%u at-port=%u control-port=%u\n",
                qPrintable(options.ip.toString()), options.count, qPrintable(options.board), dataPort, atPort,
                options.controlPort >= 0 ? control.port() : 0u);
    std::fflush(stdout);

    const int status = app.exec();
    stopAll();
    return status;
}
