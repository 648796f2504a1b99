#ifndef MONITORLOG_H
#define MONITORLOG_H

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

namespace monitor {

// A monitor's log file: what the monitor shows, written as it comes and flushed at once, so that
// the file follows the screen. The file is started afresh. A write that fails ends the log:
// failed() is emitted once with the reason, later writes are dropped, and the monitor goes on.
// Lives on the monitor's thread; knows no widgets.
class MonitorLog : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts the log in `path` (emptied first); false with the reason when it cannot be written.
    bool start(const QString &path, QString *error);
    void stop();
    bool running() const { return file.isOpen(); }
    QString path() const { return file.fileName(); }

    void write(const QByteArray &bytes);
    void write(const QString &text) { write(text.toUtf8()); }

signals:
    // "cannot write the log file PATH: REASON; logging stopped"
    void failed(const QString &message);

private:
    QFile file;
};

// Saves the text a monitor shows into `path`, as UTF-8; false with the reason when it cannot.
bool saveText(const QString &path, const QString &text, QString *error);

} // namespace monitor

#endif // MONITORLOG_H
