#include "progress.h"

#include <cmath>
#include <utility>

#include <unistd.h>

namespace cli {

ProgressPrinter::ProgressPrinter(FILE *out, bool terminal, QString label, QString afterAll)
    : out(out), terminal(terminal), label(std::move(label)), afterAll(std::move(afterAll))
{
}

int ProgressPrinter::percentOf(float fraction)
{
    if (!std::isfinite(fraction) || fraction <= 0)
        return 0;
    return qMin(100, static_cast<int>(static_cast<double>(fraction) * 100));
}

QString ProgressPrinter::line(const QString &label, int percent, bool terminal)
{
    if (!terminal)
        return QStringLiteral("%1: %2%").arg(label).arg(percent);
    const int filled = percent * BarWidth / 100;
    return QStringLiteral("%1 [%2%3] %4%")
        .arg(label, QString(filled, QLatin1Char('#')), QString(BarWidth - filled, QLatin1Char(' ')))
        .arg(percent, 3);
}

void ProgressPrinter::show(float fraction)
{
    const int percent = percentOf(fraction);
    if (percent == shown)
        return;
    shown = percent;
    QString text = line(label, percent, terminal);
    if (percent == 100 && !afterAll.isEmpty())
        text += terminal ? QLatin1Char(' ') + afterAll : QLatin1Char('\n') + label + QLatin1String(": ") + afterAll;
    std::fprintf(out, terminal ? "\r%s" : "%s\n", text.toLocal8Bit().constData());
    std::fflush(out);
}

void ProgressPrinter::end()
{
    if (terminal && shown >= 0) {
        std::fputc('\n', out);
        std::fflush(out);
    }
    shown = -1;
}

bool isTerminal(FILE *stream)
{
    return isatty(fileno(stream)) != 0;
}

} // namespace cli
