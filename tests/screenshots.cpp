// Takes the README's screenshots of the real window under an X server (Xvfb): two simulated
// modules announcing themselves, both boards being programmed, and both done.
//   quarnel-screenshots OUTPUT_DIR      (run by scripts/screenshots)
#include "devicecolumns.h"
#include "simprocess.h"
#include "widgetinspector.h"
#include "windowharness.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <cstdio>

namespace {

const int WaitMs = 120000;

bool waitUntil(const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > WaitMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}

QString cell(QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

bool save(QWidget &window, const QString &path)
{
    const QPixmap shot = window.screen()->grabWindow(window.winId());
    const bool ok = shot.save(path);
    std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: quarnel-screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    harness::Sandbox sandbox;
    // A program large enough that both uploads are seen under way.
    sandbox.makeBuild("build3f9a1c.tmp", "Blink.ino.hex", readFile(avrPath("full_uno.hex")));

    SimProcess uno;
    SimProcess mega;
    if (!uno.start({"--ip", "127.0.0.2", "--board", "UNO", "--name", "bench-uno", "--announce-ms", "500"})
        || !mega.start({"--ip", "127.0.0.3", "--board", "MEGA2560", "--name", "bench-mega", "--announce-ms", "500"})) {
        std::fprintf(stderr, "simulator: %s %s\n", qPrintable(uno.errorText()), qPrintable(mega.errorText()));
        return 1;
    }

    Widget w;
    WidgetInspector in{w};
    w.show();
    QTableWidget *table = in.table();
    if (!waitUntil([&] { return table->rowCount() == 2 && !in.source().currentFileName().isEmpty(); }))
        return 1;
    for (int row = 0; row < 2; ++row) {
        if (cell(table, row, discovery::ColumnIp) == QLatin1String("127.0.0.2"))
            qobject_cast<QComboBox *>(table->cellWidget(row, discovery::ColumnDevice))->setCurrentText("UNO");
    }
    QTest::qWait(300);
    if (!save(w, out + "/screenshot.png"))
        return 1;

    for (int row = 0; row < 2; ++row)
        qobject_cast<QPushButton *>(table->cellWidget(row, discovery::ColumnSend))->click();
    const auto progress = [&](int row) { return cell(table, row, discovery::ColumnProgress); };
    if (!waitUntil([&] { return progress(0).endsWith('%') && progress(1).endsWith('%'); }))
        return 1;
    QTest::qWait(400);
    if (!save(w, out + "/screenshot-uploading.png"))
        return 1;
    if (!waitUntil([&] { return !progress(0).endsWith('%') && !progress(1).endsWith('%'); }))
        return 1;
    QTest::qWait(300);
    return save(w, out + "/screenshot-done.png") ? 0 : 1;
}
