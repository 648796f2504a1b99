#include "idesetupcommand.h"

#include "exitcodes.h"
#include "idesetup.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace cli {

namespace {

const char IdeSetupHelp[] =
    "Usage: quarnel-cli ide-setup [--sketchbook DIR]\n"
    "Writes the board platform quarnel:avr (\"Arduino UNO via Wi-Fi\", \"Arduino Mega 2560 via\n"
    "Wi-Fi\") into DIR/hardware/quarnel/avr, replacing an older one: the boards build with the\n"
    "arduino:avr core, their modules appear under Tools > Port, and Upload runs this\n"
    "quarnel-cli. Restart the Arduino IDE afterwards.\n"
    "\n"
    "Options:\n"
    "  --sketchbook DIR the sketchbook (default: the Arduino IDE's, from its preferences, else\n"
    "                   ~/Arduino; Documents\\Arduino on Windows)\n"
    "  -h, --help       this text\n"
    "\n";

// ide-setup: the sketchbook.
QList<QCommandLineOption> ideSetupOptions()
{
    return {valued("sketchbook", "DIR")};
}

void parseIdeSetup(Arguments &args, Invocation *inv)
{
    args.noSecondsNorPositional();
    if (args.isSet("sketchbook")) {
        inv->sketchbook = args.value("sketchbook");
        if (inv->sketchbook.isEmpty())
            args.fail(QStringLiteral("--sketchbook: the directory is empty"));
    }
}

QString ideSetupHelp()
{
    return QString::fromLatin1(IdeSetupHelp) + QLatin1String(IdeSetupExitHelp);
}

int runIdeSetup(const Invocation &inv)
{
    const QString sketchbook = inv.sketchbook.isEmpty() ? defaultSketchbook() : inv.sketchbook;
    const QString dir = platformDirectory(QDir(sketchbook).absolutePath());
    const QString cli = QCoreApplication::applicationFilePath();
    QString error;
    const QVector<PlatformFile> files = idePlatformFiles(cli, &error);
    if (files.isEmpty()) {
        std::fprintf(stderr,
                     "quarnel-cli: nothing written: the path of this quarnel-cli, %s, cannot go into the "
                     "platform: %s; run a quarnel-cli from another directory\n",
                     QDir::toNativeSeparators(cli).toLocal8Bit().constData(), error.toLocal8Bit().constData());
        return ExitUsage;
    }
    if (!writePlatform(dir, files, &error)) {
        std::fprintf(stderr, "quarnel-cli: %s\n", error.toLocal8Bit().constData());
        return ExitLocalFailure;
    }
    std::printf("quarnel-cli: wrote the boards \"Arduino UNO via Wi-Fi\" and \"Arduino Mega 2560 via Wi-Fi\" into\n"
                "  %s\n"
                "uploading with\n"
                "  %s\n"
                "Restart the Arduino IDE, then choose the board under Tools > Board and the module under\n"
                "Tools > Port.\n",
                QDir::toNativeSeparators(dir).toLocal8Bit().constData(),
                QDir::toNativeSeparators(cli).toLocal8Bit().constData());
    return ExitSuccess;
}

} // namespace

const CommandRow IdeSetupCommand = {
    Command::IdeSetup, "ide-setup",
    "put the boards for uploads over Wi-Fi into the Arduino IDE's sketchbook",
    ideSetupOptions, parseIdeSetup, ideSetupHelp, runIdeSetup};

} // namespace cli
