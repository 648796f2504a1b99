#ifndef MONITORWINDOW_H
#define MONITORWINDOW_H

#include "monitorconnection.h"
#include "monitorlog.h"
#include "monitortext.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The serial monitor window of one module: what the board sends, an input line with Send, the
// line end, autoscroll, timestamps, clear, "Save…" of what it shows and a log file of what comes. Widgets and glue only; the connection is a
// monitor::MonitorConnection that the window owns, the text comes from a monitor::TextFeed.
class MonitorWindow : public QWidget
{
    Q_OBJECT

public:
    MonitorWindow(const QString &ip, quint16 dataPort, const QString &name,
                  const monitor::MonitorTimeouts &timeouts = {}, QWidget *parent = nullptr);

    monitor::MonitorConnection *connection() { return link; }
    QString ip() const { return link->ip(); }

    // What the window shows, and the two ways of keeping it; a failure is shown in the window and
    // returned. The buttons ask for the file, then call these.
    QString shownText() const;
    bool saveTo(const QString &path);
    // From now on, what the window shows is also written to `path`.
    bool startLog(const QString &path);
    void stopLog();

private:
    void append(const QString &text);
    void showState(monitor::MonitorConnection::State state, const QString &reason);
    void sendLine();
    void chooseSaveFile();
    void toggleLog(bool on);
    void reportFileFailure(const QString &message);

    monitor::MonitorConnection *link;
    monitor::TextFeed feed;
    monitor::MonitorLog log;
    bool lossNoted = false; // the current loss of the connection is in the text
    QPlainTextEdit *output;
    QLineEdit *input;
    QPushButton *sendButton;
    QComboBox *lineEndBox;
    QCheckBox *autoscrollBox;
    QCheckBox *timestampBox;
    QPushButton *clearButton;
    QPushButton *saveButton;
    QCheckBox *logBox;
    QLabel *status;
};

#endif // MONITORWINDOW_H
