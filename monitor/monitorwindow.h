#ifndef MONITORWINDOW_H
#define MONITORWINDOW_H

#include "monitorconnection.h"
#include "monitortext.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The serial monitor window of one module: what the board sends, an input line with Send, the
// line end, autoscroll, timestamps and clear. Widgets and glue only; the connection is a
// monitor::MonitorConnection that the window owns, the text comes from a monitor::TextFeed.
class MonitorWindow : public QWidget
{
    Q_OBJECT

public:
    MonitorWindow(const QString &ip, quint16 dataPort, const QString &name,
                  const monitor::MonitorTimeouts &timeouts = {}, QWidget *parent = nullptr);

    monitor::MonitorConnection *connection() { return link; }
    QString ip() const { return link->ip(); }

private:
    void append(const QString &text);
    void showState(monitor::MonitorConnection::State state, const QString &reason);
    void sendLine();

    monitor::MonitorConnection *link;
    monitor::TextFeed feed;
    bool lossNoted = false; // the current loss of the connection is in the text
    QPlainTextEdit *output;
    QLineEdit *input;
    QPushButton *sendButton;
    QComboBox *lineEndBox;
    QCheckBox *autoscrollBox;
    QCheckBox *timestampBox;
    QPushButton *clearButton;
    QLabel *status;
};

#endif // MONITORWINDOW_H
