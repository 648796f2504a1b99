// The sketch build tool's own Upload against the window's: Debian's Arduino IDE, with the boards
// of quarnel-cli ide-setup, builds Blink and uploads it to a simulated UNO through quarnel-cli
// discovery and upload; then the same build output from the window's Upload press (its default
// source finds the IDE's build directory). Measured from the build's end (the IDE's last output
// image) or the press: the upload tool's start, the first flash page written, the end. And how
// long a module's first announcement takes to become a port (the discovery's add event; the IDE
// rebuilds Tools > Port from its discovery's list each time the menu opens).
//
//   bench_ide [--smoke] [--reps N]
#include "announcer.h"
#include "arduinoide.h"
#include "benchutil.h"
#include "simprocess.h"
#include "widgetinspector.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

using namespace bench;

namespace {

const char UnoIp[] = "127.0.3.2";
const int PollMs = 5;        // how often the simulated board's page count is read
const int PortWaitMs = 5000; // an announcement not reported by then counts as missed
const int UploadMs = 120000;

QString cli()
{
    return QStringLiteral(QUARNEL_BIN_DIR "/quarnel-cli");
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// Runs the event loop until `done` or `ms` pass, reading the board's page count every PollMs
// meanwhile; *firstPageAt: the wall time its count first rose above `pagesBefore` (0 if never).
bool pollUntil(SimProcess &sim, int pagesBefore, const std::function<bool()> &done, int ms, qint64 *firstPageAt)
{
    QElapsedTimer clock;
    clock.start();
    *firstPageAt = 0;
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, PollMs);
        if (*firstPageAt == 0 && sim.pagesWritten() > pagesBefore)
            *firstPageAt = nowMs();
    }
    return done();
}

// A module's first announcement to the discovery's add event, for fresh addresses.
void portLatency(int reps)
{
    QProcess discovery;
    discovery.start(cli(), {"discovery"});
    discovery.write("START_SYNC\n");
    if (!discovery.waitForReadyRead(PortWaitMs)) {
        say(QStringLiteral("discovery did not answer START_SYNC"));
        return;
    }
    QVector<double> ms;
    int missed = 0;
    QByteArray out = discovery.readAll();
    for (int i = 0; i < reps; ++i) {
        const QString ip = QStringLiteral("127.0.4.%1").arg(10 + i);
        Announcer from{QHostAddress(ip)};
        const QByteArray wanted = "\"address\":\"" + ip.toUtf8() + '"';
        QElapsedTimer clock;
        clock.start();
        from.send(Announcer::payload(ip, 8001, 8000, QStringLiteral("lat-%1").arg(i)));
        while (!out.contains(wanted) && clock.elapsed() < PortWaitMs) {
            discovery.waitForReadyRead(int(PortWaitMs - clock.elapsed()));
            out += discovery.readAll();
        }
        if (out.contains(wanted))
            ms << double(clock.nsecsElapsed()) / 1e6;
        else
            ++missed;
        out.clear();
    }
    discovery.write("STOP\n");
    discovery.closeWriteChannel();
    discovery.waitForFinished();
    say(QStringLiteral("announcement to port (add event): %1 ms, %2 missed")
            .arg(describe(statsOf(ms), 2))
            .arg(missed));
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    // The window's default source looks in the Temp directory, where the IDE builds.
    enterWindowSandbox(work.path());
    QApplication app(argc, argv);
    const CommonOptions options = parseCommon(app.arguments().mid(1));
    const int reps = options.repetitions(3);
    say(machineLine());
    if (!ArduinoIde::available()) {
        say(QStringLiteral("needs Debian's arduino"));
        return 1;
    }

    portLatency(options.smoke ? 2 : 20);

    // The platform as ide-setup writes it, its upload tool behind a wrapper that notes its start.
    const QString sketchbook = work.filePath("sketchbook");
    const QString started = work.filePath("tool-started");
    const QString wrapper = work.filePath("quarnel-cli-timed");
    QProcess setup;
    setup.start(cli(), {"ide-setup", "--sketchbook", sketchbook});
    setup.waitForFinished();
    const QString platformTxt = sketchbook + "/hardware/quarnel/avr/platform.txt";
    QByteArray platform = readFile(platformTxt);
    platform.replace("tools.quarnel.cmd.path=" + cli().toUtf8(), "tools.quarnel.cmd.path=" + wrapper.toUtf8());
    if (setup.exitCode() != 0 || !writeFile(platformTxt, platform)
        || !writeFile(wrapper, "#!/bin/sh\ndate +%s%3N > " + started.toUtf8() + "\nexec " + cli().toUtf8() + " \"$@\"\n")
        || !QFile::setPermissions(wrapper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        say(QStringLiteral("cannot set up the sketchbook"));
        return 1;
    }

    SimProcess sim;
    if (!sim.start({"--ip", UnoIp, "--board", "UNO", "--name", "bench-ide", "--announce-ms", "500"})) {
        say(sim.errorText());
        return 1;
    }
    QDir().mkpath(work.filePath("home"));
    QDir().mkpath(work.filePath("Blink"));
    const QString buildPath = work.filePath("arduino_build_1");
    const QString hex = buildPath + "/Blink.ino.hex";
    QVector<double> toolStart, ideFirstPage, ideDone, windowFirstPage, windowDone;
    for (int rep = 0; rep < reps; ++rep) {
        // Each run another program, so that a run that wrote nothing cannot pass.
        writeFile(work.filePath("Blink/Blink.ino"),
                  QStringLiteral("void setup() { pinMode(LED_BUILTIN, OUTPUT); }\nvoid loop() { "
                                 "digitalWrite(LED_BUILTIN, !digitalRead(LED_BUILTIN)); delay(%1); }\n")
                      .arg(100 + rep)
                      .toUtf8());
        ArduinoIde ide(work.filePath("home"));
        int pages = sim.pagesWritten();
        qint64 firstPage = 0;
        QProcess &process = ide.start({"--upload", "--board", "quarnel:avr:uno", "--port", UnoIp, "--pref",
                                       "sketchbook.path=" + sketchbook, "--pref", "build.path=" + buildPath, "--pref",
                                       "upload.verify=false", work.filePath("Blink/Blink.ino")});
        const bool ended = pollUntil(
            sim, pages, [&] { return process.state() == QProcess::NotRunning; }, ArduinoIde::RunMs, &firstPage);
        const qint64 doneAt = nowMs();
        const qint64 buildEnd =
            QFileInfo(hex).lastModified().toMSecsSinceEpoch();
        objcopy({"-I", "ihex", "-O", "binary", hex, work.filePath("image.bin")});
        const QByteArray image = readFile(work.filePath("image.bin"));
        if (!ended || process.exitCode() != 0 || firstPage == 0 || image.isEmpty()
            || sim.flash().left(image.size()) != image) {
            say(QStringLiteral("IDE upload %1 failed (ended %2, status %3, first page at %4, image %5 bytes, "
                               "flash %6): %7")
                    .arg(rep)
                    .arg(ended)
                    .arg(process.exitCode())
                    .arg(firstPage)
                    .arg(image.size())
                    .arg(sim.flash().left(image.size()) == image ? "equal" : "different")
                    .arg(QString::fromLocal8Bit(process.readAll())));
            return 1;
        }
        toolStart << double(readFile(started).trimmed().toLongLong() - buildEnd);
        ideFirstPage << double(firstPage - buildEnd);
        ideDone << double(doneAt - buildEnd);

        // The same build output from the window: its row, its Upload press.
        Widget window;
        WidgetInspector in{window};
        in.listenPrivately(); // its one row: not the modules others announce on this machine
        in.addDeviceRow(UnoIp, QString::number(sim.dataPort()), QString::number(sim.atPort()), "bench-ide");
        const int row = rowWithIp(in.table(), UnoIp);
        qobject_cast<QComboBox *>(in.table()->cellWidget(row, discovery::ColumnDevice))->setCurrentText("UNO");
        const auto progress = [&] {
            const QTableWidgetItem *item = in.table()->item(row, discovery::ColumnProgress);
            return item ? item->text() : QString();
        };
        // A failed press shows a message box: close it and report, rather than wait for a user.
        QString boxText;
        QTimer boxCloser;
        QObject::connect(&boxCloser, &QTimer::timeout, &boxCloser, [&boxText] {
            if (QWidget *box = QApplication::activeModalWidget()) {
                boxText = box->windowTitle();
                box->close();
            }
        });
        boxCloser.start(100);
        // The press as a user makes it: once the window shows the IDE's build as its file (it
        // takes a file a second after its last write).
        QElapsedTimer shown;
        shown.start();
        while (in.ui()->lineEdit_2->text() != hex && shown.elapsed() < UploadMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, PollMs);
        pages = sim.pagesWritten();
        const qint64 pressed = nowMs();
        qobject_cast<QPushButton *>(in.table()->cellWidget(row, discovery::ColumnSend))->click();
        if (!pollUntil(
                sim, pages, [&] { return progress() == QLatin1String("Successful") || !boxText.isNull(); },
                UploadMs, &firstPage)
            || !boxText.isNull() || firstPage == 0 || sim.flash().left(image.size()) != image) {
            say(QStringLiteral("window upload %1 failed: %2 %3").arg(rep).arg(progress(), boxText));
            return 1;
        }
        windowFirstPage << double(firstPage - pressed);
        windowDone << double(nowMs() - pressed);
        say(QStringLiteral("run %1: IDE tool start %2 ms, first page %3 ms, done %4 ms after the build; window "
                           "first page %5 ms, done %6 ms after the press (%7 bytes)")
                .arg(rep)
                .arg(toolStart.last())
                .arg(ideFirstPage.last())
                .arg(ideDone.last())
                .arg(windowFirstPage.last())
                .arg(windowDone.last())
                .arg(image.size()));
    }
    say(QStringLiteral("IDE Upload, after the build's end: tool starts %1 ms, first page %2 ms, done %3 ms")
            .arg(describe(statsOf(toolStart), 0), describe(statsOf(ideFirstPage), 0), describe(statsOf(ideDone), 0)));
    say(QStringLiteral("window Upload, after the press: first page %1 ms, done %2 ms")
            .arg(describe(statsOf(windowFirstPage), 0), describe(statsOf(windowDone), 0)));
    say(QStringLiteral("IDE first page / window first page: %1")
            .arg(statsOf(ideFirstPage).median / qMax(1.0, statsOf(windowFirstPage).median), 0, 'f', 2));
    return 0;
}
