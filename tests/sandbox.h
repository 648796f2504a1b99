#ifndef SANDBOX_H
#define SANDBOX_H

#include "buildfinder.h"
#include "testfiles.h"

#include <QByteArray>
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

// Runs a test inside its own working directory (./update.bin, ./log.txt) and its own
// temporary directory (where the build-output finder looks).
class Sandbox
{
public:
    Sandbox()
        : savedTmp_(qgetenv("TMPDIR"))
        , savedCwd_(QDir::currentPath())
    {
        QDir::setCurrent(work.path());
        qputenv("TMPDIR", QFile::encodeName(temp.path()));
    }
    ~Sandbox()
    {
        QDir::setCurrent(savedCwd_);
        qputenv("TMPDIR", savedTmp_);
    }
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    // A build directory of the sketch build tool holding one file; its path, or empty.
    QString makeBuild(const QString &dir, const QString &file, const QByteArray &content)
    {
        QDir(temp.path()).mkpath(dir);
        const QString path = temp.path() + "/" + dir + "/" + file;
        return writeFile(path, content) ? path : QString();
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

    QTemporaryDir temp;
    QTemporaryDir work;

private:
    QByteArray savedTmp_;
    QString savedCwd_;
};

} // namespace harness

#endif // SANDBOX_H
