// The sketch build tool's own loop: quarnel-cli ide-setup puts the boards into a test sketchbook,
// then Debian's Arduino IDE builds a sketch and uploads it to the module given as its port, which
// its discovery (quarnel-cli discovery) reported, through quarnel-cli upload into a simulated
// board running its real bootloader, also while the board's application prints without a pause.
#include "arduinoide.h"
#include "simprocess.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

const char Sketch[] = "void setup() { pinMode(LED_BUILTIN, OUTPUT); }\n"
                      "void loop() { digitalWrite(LED_BUILTIN, !digitalRead(LED_BUILTIN)); delay(100); }\n";

// The flat image of a HEX file the IDE built, by the toolchain's own converter.
QByteArray imageOf(const QString &hex, const QString &bin)
{
    QProcess objcopy;
    objcopy.start(QStringLiteral("avr-objcopy"), {"-I", "ihex", "-O", "binary", hex, bin});
    return objcopy.waitForFinished() && objcopy.exitCode() == 0 ? readFile(bin) : QByteArray();
}

} // namespace

class tst_IdeUpload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void upload_data();
    void upload();
    void absentModuleFails();

private:
    // The IDE's --upload of the sketch; its exit status.
    int ideUpload(const QString &fqbn, const QString &ip, const QString &buildPath, const QString &verify);

    QTemporaryDir dir;
    QString sketchbook;
    QByteArray said;
};

void tst_IdeUpload::initTestCase()
{
    if (!ArduinoIde::available())
        QSKIP("needs Debian's arduino (scripts/test installs it)");
    QVERIFY(dir.isValid());
    sketchbook = dir.filePath("sketchbook");
    QProcess setup;
    setup.start(QStringLiteral(QUARNEL_BIN_DIR "/quarnel-cli"), {"ide-setup", "--sketchbook", sketchbook});
    QVERIFY(setup.waitForFinished());
    QCOMPARE(setup.exitCode(), 0);
    QVERIFY(QDir().mkpath(dir.filePath("home")) && QDir().mkpath(dir.filePath("Blink")));
    QVERIFY(writeFile(dir.filePath("Blink/Blink.ino"), Sketch));
}

int tst_IdeUpload::ideUpload(const QString &fqbn, const QString &ip, const QString &buildPath, const QString &verify)
{
    ArduinoIde ide(dir.filePath("home"));
    const int status = ide.run({"--upload", "--board", fqbn, "--port", ip, "--pref", "sketchbook.path=" + sketchbook,
                                "--pref", "build.path=" + buildPath, "--pref", "upload.verify=" + verify,
                                dir.filePath("Blink/Blink.ino")});
    said = ide.output();
    return status;
}

void tst_IdeUpload::upload_data()
{
    QTest::addColumn<QString>("fqbn");
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("verify"); // the IDE's "Verify code after upload"
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("running"); // the application the board runs before the upload
    QTest::addColumn<QString>("ideBoardName");
    QTest::newRow("Arduino UNO via Wi-Fi, verified")
        << "quarnel:avr:uno" << "UNO" << "true" << "127.0.0.91" << "" << "Arduino UNO via Wi-Fi";
    QTest::newRow("Arduino Mega 2560 via Wi-Fi")
        << "quarnel:avr:mega2560" << "MEGA2560" << "false" << "127.0.0.92" << "" << "Arduino Mega 2560 via Wi-Fi";
    QTest::newRow("Arduino UNO via Wi-Fi, verified, printing without a pause")
        << "quarnel:avr:uno" << "UNO" << "true" << "127.0.0.94" << "serialflood.hex" << "Arduino UNO via Wi-Fi";
}

void tst_IdeUpload::upload()
{
    QFETCH(QString, fqbn);
    QFETCH(QString, board);
    QFETCH(QString, verify);
    QFETCH(QString, ip);
    QFETCH(QString, running);
    QFETCH(QString, ideBoardName);
    SimProcess sim;
    QStringList simArguments{"--ip", ip, "--board", board, "--name", "ide-" + board, "--announce-ms", "300"};
    if (!running.isEmpty())
        simArguments << "--app" << avrPath(running);
    QVERIFY2(sim.start(simArguments), qPrintable(sim.errorText()));

    const QString buildPath = dir.filePath("build-" + board);
    QCOMPARE(ideUpload(fqbn, ip, buildPath, verify), 0);
    const QByteArray image = imageOf(buildPath + "/Blink.ino.hex", dir.filePath(board + ".bin"));
    QVERIFY(image.size() > 400);
    QCOMPARE(sim.flash().left(image.size()), image);
    const QByteArray done = QStringLiteral("quarnel-cli: %1: upload complete, %2 bytes written")
                                .arg(ip)
                                .arg(image.size())
                                .toUtf8();
    QVERIFY2(said.contains(done + (verify == "true" ? " and verified\n" : "\n")), said.constData());

    // The board written is known from now on: the IDE's Port menu shows its name beside the port.
    QProcess discovery;
    discovery.start(QStringLiteral(QUARNEL_BIN_DIR "/quarnel-cli"), {"discovery"});
    QVERIFY(discovery.waitForStarted());
    discovery.write("START_SYNC\n");
    const QByteArray named = QStringLiteral(R"("boardName":"%1")").arg(ideBoardName).toUtf8();
    QByteArray events;
    QTRY_VERIFY2_WITH_TIMEOUT((events += discovery.readAllStandardOutput()).contains(named), events.constData(), 10000);
    discovery.write("QUIT\n");
    QVERIFY(discovery.waitForFinished());
}

// A module that is not there is no port: the IDE's upload fails. (quarnel-cli's reason is not
// checked: the IDE reads the tool's output on threads it does not wait for, and on the command
// line exits before they print a line that came at once.)
void tst_IdeUpload::absentModuleFails()
{
    QCOMPARE(ideUpload("quarnel:avr:uno", "127.0.0.93", dir.filePath("build-UNO"), "true"), 1);
    QVERIFY2(said.contains("An error occurred while uploading the sketch"), said.constData());
}

QTEST_GUILESS_MAIN(tst_IdeUpload)
#include "tst_ideupload.moc"
