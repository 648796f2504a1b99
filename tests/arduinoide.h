#ifndef ARDUINOIDE_H
#define ARDUINOIDE_H

// ArduinoIde: runs Debian's Arduino IDE 1.8 (package arduino; scripts/test installs it) from the
// command line for a test, with its settings and sketchbook in a home of the test's own.
//
//     ArduinoIde ide(QDir::current().absoluteFilePath("home"));
//     if (!ide.available())
//         QSKIP("needs Debian's arduino (scripts/test installs it)");
//     QCOMPARE(ide.run({"--verify", "--board", "arduino:avr:uno", sketchPath}), 0); // the IDE's exit status
//     qDebug() << ide.output();                // what it wrote, both streams
//
// No display is needed for --verify and --upload. Header-only.

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

class ArduinoIde
{
public:
    static const int RunMs = 240000; // a build takes 6 s to 30 s on 2 busy cores

    // `home`: where the IDE keeps .arduino15 and its default sketchbook; `tmp`, when given, where
    // it makes its build directories.
    explicit ArduinoIde(const QString &home, const QString &tmp = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        QString options = QStringLiteral("-Duser.home=") + home;
        if (!tmp.isEmpty())
            options += QStringLiteral(" -Djava.io.tmpdir=") + tmp;
        env.insert(QStringLiteral("JAVA_TOOL_OPTIONS"), options);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
    }

    static QString program() { return QStandardPaths::findExecutable(QStringLiteral("arduino")); }
    static bool available() { return !program().isEmpty(); }

    // Starts the IDE with these arguments; the caller waits for the process.
    QProcess &start(const QStringList &arguments)
    {
        process.start(program(), arguments);
        return process;
    }

    // Runs the IDE with these arguments and waits for it; its exit status, -1 when it did not end.
    int run(const QStringList &arguments, int timeoutMs = RunMs)
    {
        start(arguments);
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            said = process.readAll();
            return -1;
        }
        said = process.readAll();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QByteArray output() const { return said; }

private:
    QProcess process;
    QByteArray said;
};

#endif // ARDUINOIDE_H
