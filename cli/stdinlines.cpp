#include "stdinlines.h"

#include <QSocketNotifier>

#include <cerrno>

#include <unistd.h>

namespace cli {

void StdinLines::take(const QByteArray &bytes)
{
    pending += bytes;
    int lineFeed;
    while ((lineFeed = pending.indexOf('\n')) >= 0) {
        QByteArray text = pending.left(lineFeed);
        pending.remove(0, lineFeed + 1);
        if (text.endsWith('\r'))
            text.chop(1);
        emit line(text);
    }
}

void StdinLines::finish()
{
    if (finished)
        return;
    finished = true;
    if (!pending.isEmpty())
        take(QByteArrayLiteral("\n"));
    emit ended();
}

#ifndef Q_OS_WIN
StdinLines::StdinLines()
{
    notifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n > 0) {
            take(QByteArray(buffer, int(n)));
        } else if (n == 0 || errno != EINTR) {
            notifier->setEnabled(false);
            finish();
        }
    });
}

StdinLines::~StdinLines() = default;
#endif

} // namespace cli
