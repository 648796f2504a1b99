#include "commandline.h"
#include "exitcodes.h"
#include "quarnelversion.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
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
