// Knowing the board: identification of an UNO and a MEGA2560 running a printing application, at 0
// and 5 ms of link latency each way (the whole identification: connections, mode switch, the
// bootloader found, signature, leave); and what the image's chip check costs an upload: reading
// the ELF beside the HEX file and comparing it with the image, for a small and the largest program.
//
//   bench_identify [--reps N] [--smoke]
#include "benchutil.h"
#include "buildchip.h"
#include "hexconvert.h"
#include "identification.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>

using namespace bench;

namespace {

const int DefaultReps = 5;
const int ChipCheckReps = 20;
const double IdentifyGoal = 1.5;   // s per board at 5 ms
const double ChipCheckGoal = 50;   // ms added to an upload

struct Kind
{
    const char *board;
    const char *app;
    const char *ip;
};

bool identifyBench(const CommonOptions &options)
{
    bool met = true;
    const Kind kinds[] = {{"UNO", "serialecho.hex", "127.0.1.80"}, {"MEGA2560", "serialecho_mega.hex", "127.0.1.81"}};
    for (const int delay : options.smoke ? QList<int>{5} : QList<int>{0, 5}) {
        for (const Kind &kind : kinds) {
            SimProcess sim;
            if (!sim.start({"--ip", kind.ip, "--board", kind.board, "--announce-ms", "0", "--delay-ms",
                            QString::number(delay), "--app", avrPath(QLatin1String(kind.app))})) {
                say(QStringLiteral("cannot start the simulator: ") + sim.errorText());
                return false;
            }
            QVector<double> seconds;
            for (int rep = 0; rep < options.repetitions(DefaultReps); ++rep) {
                QElapsedTimer clock;
                clock.start();
                const upload::Identification id =
                    upload::identifyBoard(QLatin1String(kind.ip), sim.dataPort(), sim.atPort(), upload::UploadTimeouts());
                seconds << double(clock.elapsed()) / 1000.0;
                if (!id.board || QLatin1String(id.board->name) != QLatin1String(kind.board)) {
                    say(QStringLiteral("%1 not identified: %2").arg(QLatin1String(kind.board), id.text()));
                    return false;
                }
            }
            const Stats s = statsOf(seconds);
            if (delay == 5 && s.max > IdentifyGoal)
                met = false;
            say(QStringLiteral("identify %1 at %2 ms: %3 s").arg(QLatin1String(kind.board)).arg(delay).arg(describe(s)));
        }
    }
    say(QStringLiteral("identify at 5 ms, slowest run %1 the goal of %2 s").arg(met ? "within" : "ABOVE").arg(IdentifyGoal));
    return true;
}

bool chipCheckBench(const CommonOptions &options)
{
    for (const char *program : {"blink_uno", "huge_mega"}) {
        const QString hex = avrPath(QLatin1String(program) + QStringLiteral(".hex"));
        const QByteArray image = firmware::HexFile::read(hex).image;
        QVector<double> ms;
        for (int rep = 0; rep < (options.smoke ? 1 : ChipCheckReps); ++rep) {
            QElapsedTimer clock;
            clock.start();
            const std::optional<firmware::BuildChip> chip = firmware::buildChipBeside(hex, image);
            ms << double(clock.nsecsElapsed()) / 1e6;
            if (!chip || chip->device.isEmpty()) {
                say(QStringLiteral("%1: the ELF beside tells no chip").arg(QLatin1String(program)));
                return false;
            }
        }
        const Stats s = statsOf(ms);
        say(QStringLiteral("chip check of %1 (%2 bytes of image, %3 bytes of ELF): %4 ms, goal %5 ms")
                .arg(QLatin1String(program))
                .arg(image.size())
                .arg(readFile(avrPath(QLatin1String(program) + QStringLiteral(".elf"))).size())
                .arg(describe(s, 3))
                .arg(ChipCheckGoal));
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const CommonOptions options = parseCommon(app.arguments().mid(1));
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    say(machineLine());
    return identifyBench(options) && chipCheckBench(options) ? 0 : 1;
}
