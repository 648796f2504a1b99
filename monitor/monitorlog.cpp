#include "monitorlog.h"

namespace monitor {

bool MonitorLog::start(const QString &path, QString *error)
{
    stop();
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("cannot write the log file %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void MonitorLog::stop()
{
    file.close();
}

void MonitorLog::write(const QByteArray &bytes)
{
    if (!file.isOpen() || bytes.isEmpty())
        return;
    if (file.write(bytes) == bytes.size() && file.flush())
        return;
    const QString message = QStringLiteral("cannot write the log file %1: %2; logging stopped")
                                .arg(file.fileName(), file.errorString());
    file.close();
    emit failed(message);
}

bool saveText(const QString &path, const QString &text, QString *error)
{
    QFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush())
        return true;
    *error = QStringLiteral("cannot save to %1: %2").arg(path, file.errorString());
    return false;
}

} // namespace monitor
