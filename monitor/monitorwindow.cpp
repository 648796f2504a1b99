#include "monitorwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QSignalBlocker>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTime>
#include <QVBoxLayout>

namespace {

using State = monitor::MonitorConnection::State;

// The line-end box's entries, in the order of monitor::LineEnd.
const char *const LineEndTexts[] = {"No line ending", "Newline", "Carriage return", "Both NL & CR"};
const monitor::LineEnd LineEndValues[] = {monitor::LineEnd::None, monitor::LineEnd::Lf, monitor::LineEnd::Cr,
                                          monitor::LineEnd::CrLf};

} // namespace

MonitorWindow::MonitorWindow(const QString &ip, quint16 dataPort, const QString &name,
                             const monitor::MonitorTimeouts &timeouts, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , link(new monitor::MonitorConnection(ip, dataPort, timeouts, this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Serial monitor - %1 (%2)").arg(name, ip));
    resize(720, 480);

    output = new QPlainTextEdit(this);
    output->setReadOnly(true);
    output->setMaximumBlockCount(monitor::TextFeed::ScrollBackLines);
    output->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    output->setLineWrapMode(QPlainTextEdit::NoWrap);
    input = new QLineEdit(this);
    input->setPlaceholderText(tr("Message to send to %1").arg(ip));
    sendButton = new QPushButton(tr("Send"), this);
    lineEndBox = new QComboBox(this);
    for (const char *text : LineEndTexts)
        lineEndBox->addItem(tr(text));
    lineEndBox->setCurrentIndex(1);
    autoscrollBox = new QCheckBox(tr("Autoscroll"), this);
    autoscrollBox->setChecked(true);
    timestampBox = new QCheckBox(tr("Show timestamp"), this);
    clearButton = new QPushButton(tr("Clear output"), this);
    saveButton = new QPushButton(tr("Save\342\200\246"), this);
    saveButton->setToolTip(tr("Save what the monitor shows to a file"));
    logBox = new QCheckBox(tr("Log to file\342\200\246"), this);
    logBox->setToolTip(tr("Write what the monitor shows to a file as it comes"));
    status = new QLabel(this);

    auto *sendRow = new QHBoxLayout;
    sendRow->addWidget(input, 1);
    sendRow->addWidget(sendButton);
    auto *optionRow = new QHBoxLayout;
    optionRow->addWidget(status, 1);
    optionRow->addWidget(autoscrollBox);
    optionRow->addWidget(timestampBox);
    optionRow->addWidget(lineEndBox);
    optionRow->addWidget(clearButton);
    optionRow->addWidget(saveButton);
    optionRow->addWidget(logBox);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(sendRow);
    layout->addWidget(output, 1);
    layout->addLayout(optionRow);

    connect(sendButton, &QPushButton::clicked, this, &MonitorWindow::sendLine);
    connect(input, &QLineEdit::returnPressed, this, &MonitorWindow::sendLine);
    connect(clearButton, &QPushButton::clicked, output, &QPlainTextEdit::clear);
    connect(saveButton, &QPushButton::clicked, this, &MonitorWindow::chooseSaveFile);
    connect(logBox, &QCheckBox::toggled, this, &MonitorWindow::toggleLog);
    connect(&log, &monitor::MonitorLog::failed, this, &MonitorWindow::reportFileFailure);
    connect(timestampBox, &QCheckBox::toggled, this, [this](bool on) { feed.setTimestamps(on); });
    connect(link, &monitor::MonitorConnection::received, this,
            [this](const QByteArray &bytes) { append(feed.take(bytes, QTime::currentTime())); });
    connect(link, &monitor::MonitorConnection::stateChanged, this, &MonitorWindow::showState);
}

void MonitorWindow::append(const QString &text)
{
    if (text.isEmpty())
        return;
    QTextCursor end(output->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    log.write(text);
    if (autoscrollBox->isChecked())
        output->verticalScrollBar()->setValue(output->verticalScrollBar()->maximum());
}

void MonitorWindow::showState(State state, const QString &reason)
{
    const QString where = QStringLiteral("%1:%2").arg(link->ip()).arg(link->dataPort());
    const QTime now = QTime::currentTime();
    switch (state) {
    case State::Connecting:
        status->setText(tr("Connecting to %1").arg(where));
        break;
    case State::Connected:
        status->setText(tr("Connected to %1").arg(where));
        append(feed.note(tr("connected to %1").arg(where), now));
        lossNoted = false;
        break;
    case State::Waiting:
        status->setText(tr("Disconnected: %1; trying again every second").arg(reason));
        // One note per loss, not one per failed attempt.
        if (!lossNoted)
            append(feed.note(tr("disconnected from %1: %2; trying again every second").arg(where, reason), now));
        lossNoted = true;
        break;
    case State::Released:
        status->setText(tr("Paused: the row is uploading"));
        append(feed.note(tr("upload started: the monitor let go of the data port until it ends"), now));
        lossNoted = false;
        break;
    case State::Closed:
        status->setText(tr("Closed"));
        break;
    }
    sendButton->setEnabled(state == State::Connected);
}

void MonitorWindow::sendLine()
{
    if (link->send(monitor::lineToSend(input->text(), LineEndValues[lineEndBox->currentIndex()])))
        input->clear();
}

QString MonitorWindow::shownText() const
{
    return output->toPlainText();
}

bool MonitorWindow::saveTo(const QString &path)
{
    QString error;
    if (monitor::saveText(path, shownText(), &error))
        return true;
    reportFileFailure(error);
    return false;
}

bool MonitorWindow::startLog(const QString &path)
{
    QString error;
    const bool started = log.start(path, &error);
    if (!started)
        reportFileFailure(error);
    const QSignalBlocker quiet(logBox);
    logBox->setChecked(started);
    return started;
}

void MonitorWindow::stopLog()
{
    log.stop();
    const QSignalBlocker quiet(logBox);
    logBox->setChecked(false);
}

void MonitorWindow::chooseSaveFile()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Save monitor output"), QString(),
                                                      tr("Text files (*.txt);;All files (*)"));
    if (!path.isEmpty())
        saveTo(path);
}

void MonitorWindow::toggleLog(bool on)
{
    if (!on) {
        stopLog();
        return;
    }
    const QString path = QFileDialog::getSaveFileName(this, tr("Log monitor output to"), QString(),
                                                      tr("Log files (*.log *.txt);;All files (*)"));
    if (path.isEmpty())
        stopLog();
    else
        startLog(path);
}

void MonitorWindow::reportFileFailure(const QString &message)
{
    {
        const QSignalBlocker quiet(logBox);
        logBox->setChecked(log.running());
    }
    status->setText(message);
    append(feed.note(message, QTime::currentTime()));
}
