#ifndef SANDBOX_H
#define SANDBOX_H

#include "buildfinder.h"
#include "testfiles.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

namespace harness {

// The smallest build output: a HEX file of one data record, its image, and an image it replaces.
const QByteArray BlinkHex(":0400000001020304F2\n:00000001FF\n");
const QByteArray BlinkImage("\x01\x02\x03\x04");
const QByteArray OldImage("the old image");

// A file's last-write time as the window shows it.
inline QString timeTextOf(const QString &path)
{
    return firmware::generateTimeText(QFileInfo(path).fileTime(QFileDevice::FileModificationTime));
}

// Runs a test inside its own working directory (./update.bin, ./log.txt), its own temporary
// directory (where the build-output finder looks), its own cache directory (where current
// build tools keep theirs) and its own configuration directory (the modules added by address).
class Sandbox
{
public:
    Sandbox()
        : savedTmp_(qgetenv("TMPDIR"))
        , savedCache_(qEnvironmentVariableIsSet("XDG_CACHE_HOME") ? qgetenv("XDG_CACHE_HOME") : QByteArray())
        , savedConfig_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME") ? qgetenv("XDG_CONFIG_HOME") : QByteArray())
        , savedCwd_(QDir::currentPath())
    {
        QDir::setCurrent(work.path());
        qputenv("TMPDIR", QFile::encodeName(temp.path()));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    }
    ~Sandbox()
    {
        QDir::setCurrent(savedCwd_);
        qputenv("TMPDIR", savedTmp_);
        restore("XDG_CACHE_HOME", savedCache_);
        restore("XDG_CONFIG_HOME", savedConfig_);
    }
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    // A build directory of the sketch build tool holding one file, finished a few seconds ago
    // (the finder leaves a file younger than a second for its next look); its path, or empty.
    // `root` is the temporary directory unless given.
    QString makeBuild(const QString &dir, const QString &file, const QByteArray &content,
                      QString root = QString())
    {
        if (root.isEmpty())
            root = temp.path();
        QDir(root).mkpath(dir);
        const QString path = root + "/" + dir + "/" + file;
        QFile written(path);
        const bool ok = writeFile(path, content) && written.open(QIODevice::ReadWrite)
                        && written.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-FinishedAgo),
                                               QFileDevice::FileModificationTime);
        return ok ? path : QString();
    }

    // The file a user picks with Open File, fw/blink.ino.hex in the working directory, beside an
    // older ./update.bin; its absolute path, or empty.
    QString makeManualFile()
    {
        const QString path = QDir::current().absoluteFilePath(QStringLiteral("fw/blink.ino.hex"));
        const bool made = writeFile(QStringLiteral("./update.bin"), OldImage) && QDir().mkpath(QStringLiteral("fw"))
                          && writeFile(path, BlinkHex);
        return made ? path : QString();
    }

    static const int FinishedAgo = 5; // s

    QTemporaryDir temp;
    QTemporaryDir work;
    QTemporaryDir cache; // the user's cache directory, where current build tools keep theirs
    QTemporaryDir config; // the user's configuration directory: the modules added by address

private:
    static void restore(const char *name, const QByteArray &saved)
    {
        if (saved.isNull())
            qunsetenv(name);
        else
            qputenv(name, saved);
    }

    QByteArray savedTmp_;
    QByteArray savedCache_;
    QByteArray savedConfig_;
    QString savedCwd_;
};

} // namespace harness

#endif // SANDBOX_H
