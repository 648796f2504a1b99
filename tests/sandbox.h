#ifndef SANDBOX_H
#define SANDBOX_H

#include "testfiles.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace harness {

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

    QTemporaryDir temp;
    QTemporaryDir work;

private:
    QByteArray savedTmp_;
    QString savedCwd_;
};

} // namespace harness

#endif // SANDBOX_H
