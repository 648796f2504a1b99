#include "idesetup.h"

#include "exitcodes.h"
#include "platform.h"
#include "quarnelversion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

// Q_INIT_RESOURCE names a function of the global namespace: the templates live in this library.
static void initPlatformTemplates()
{
    Q_INIT_RESOURCE(ide);
}

namespace cli {

namespace {

const char CliPlaceholder[] = "@QUARNEL_CLI@";
const char VersionPlaceholder[] = "@QUARNEL_VERSION@";
const char SketchbookKey[] = "sketchbook.path";

} // namespace

QVector<PlatformFile> idePlatformFiles(const QString &cliPath)
{
    initPlatformTemplates();
    QVector<PlatformFile> files;
    for (const char *name : {"boards.txt", "platform.txt"}) {
        QFile file(QStringLiteral(":/ide/") + QLatin1String(name));
        file.open(QIODevice::ReadOnly); // built in: it cannot fail
        QByteArray contents = file.readAll();
        contents.replace(CliPlaceholder, QDir::fromNativeSeparators(cliPath).toUtf8());
        contents.replace(VersionPlaceholder, QUARNEL_VERSION);
        files.append({QLatin1String(name), contents});
    }
    return files;
}

namespace {

// The value of `key` in a key=value file of the sketch build tools; empty when it has none.
QString valueOf(const QByteArray &contents, const QByteArray &key)
{
    for (const QByteArray &line : contents.split('\n')) {
        const int equals = line.indexOf('=');
        if (equals > 0 && line.left(equals).trimmed() == key)
            return QString::fromUtf8(line.mid(equals + 1).trimmed());
    }
    return QString();
}

} // namespace

QString ideBoardName(const QString &id)
{
    initPlatformTemplates();
    QFile boards(QStringLiteral(":/ide/boards.txt"));
    boards.open(QIODevice::ReadOnly); // built in: it cannot fail
    return id.isEmpty() ? QString() : valueOf(boards.readAll(), id.toUtf8() + ".name");
}

QString sketchbookFromPreferences(const QByteArray &preferences)
{
    return valueOf(preferences, SketchbookKey);
}

QString defaultSketchbook()
{
    QFile preferences(platform::arduinoSettingsDirectory() + QStringLiteral("/preferences.txt"));
    if (preferences.open(QIODevice::ReadOnly)) {
        const QString fromIde = sketchbookFromPreferences(preferences.readAll());
        if (!fromIde.isEmpty())
            return fromIde;
    }
    return platform::defaultSketchbookDirectory();
}

QString platformDirectory(const QString &sketchbook)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(sketchbook) + QStringLiteral("/hardware/quarnel/avr"));
}

bool writePlatform(const QString &dir, const QVector<PlatformFile> &files, QString *error)
{
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create the directory %1").arg(QDir::toNativeSeparators(dir));
        return false;
    }
    for (const PlatformFile &file : files) {
        QSaveFile out(dir + QLatin1Char('/') + file.name);
        if (!out.open(QIODevice::WriteOnly) || out.write(file.contents) != file.contents.size() || !out.commit()) {
            *error = QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(out.fileName()), out.errorString());
            return false;
        }
    }
    return true;
}

int runIdeSetup(const Invocation &inv)
{
    const QString sketchbook = inv.sketchbook.isEmpty() ? defaultSketchbook() : inv.sketchbook;
    const QString dir = platformDirectory(QDir(sketchbook).absolutePath());
    const QString cli = QCoreApplication::applicationFilePath();
    QString error;
    if (!writePlatform(dir, idePlatformFiles(cli), &error)) {
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

} // namespace cli
