#ifndef CLIPROCESS_H
#define CLIPROCESS_H

// Runs build/bin/quarnel-cli for a test and keeps what it printed. Header-only.

#include "testfiles.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

struct CliRun
{
    static const int DefaultMs = 60000;

    bool finished = false; // ended by itself within the time given
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    static QString program() { return QStringLiteral(QUARNEL_BIN_DIR "/quarnel-cli"); }

    // The last line printed on standard error, without its line end.
    QByteArray lastErrorLine() const
    {
        const QList<QByteArray> lines = err.trimmed().split('\n');
        return lines.last();
    }
    QList<QByteArray> outLines() const { return out.trimmed().split('\n'); }
    // For failure messages: everything the tool printed.
    QByteArray printed() const { return "stdout:\n" + out + "\nstderr:\n" + err; }
};

// The configuration directory (known and recently heard modules) of the tool's runs in one test
// program, unless a run is given its own: nothing of the user's, nor of an earlier test run.
inline QString testConfigDirectory()
{
    static const QTemporaryDir dir;
    return dir.path();
}

// Starts the tool; the caller waits with finishCli(). `environment` entries are NAME=VALUE.
inline void startCli(QProcess &process, const QStringList &arguments, const QString &workingDirectory = QString(),
                     const QStringList &environment = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), testConfigDirectory());
    for (const QString &entry : environment)
        env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(env);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(CliRun::program(), arguments);
}

// Waits for the tool to end; kills it when it takes longer than timeoutMs.
inline CliRun finishCli(QProcess &process, int timeoutMs = CliRun::DefaultMs)
{
    CliRun run;
    if (process.state() != QProcess::NotRunning)
        process.waitForFinished(timeoutMs);
    run.finished = process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit;
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

inline CliRun runCli(const QStringList &arguments, const QString &workingDirectory = QString(),
                     const QStringList &environment = {}, int timeoutMs = CliRun::DefaultMs)
{
    QProcess process;
    startCli(process, arguments, workingDirectory, environment);
    return finishCli(process, timeoutMs);
}

#endif // CLIPROCESS_H
