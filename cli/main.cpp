#include "commandline.h"
#include "commandsupport.h"
#include "exitcodes.h"
#include "platform.h"
#include "quarnelversion.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

int run()
{
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    if (arguments == QStringList{QStringLiteral("--version")}) {
        std::printf("quarnel-cli %s\n", QUARNEL_VERSION);
        return cli::ExitSuccess;
    }

    QString error;
    const cli::Invocation inv = cli::parseCommandLine(arguments, &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "quarnel-cli: %s\n", error.toLocal8Bit().constData());
        return cli::ExitUsage;
    }
    if (inv.help) {
        std::fputs(cli::helpText(inv.command).toLocal8Bit().constData(), stdout);
        return cli::ExitSuccess;
    }
    return cli::findCommand(inv.command)->run(inv);
}

} // namespace

int main(int argc, char *argv[])
{
    // Before any socket is opened: one could take a closed output's descriptor.
    const bool outputOpen = platform::claimStandardOutput();
    QCoreApplication app(argc, argv);
    return cli::outputChecked(stdout, outputOpen, run());
}
