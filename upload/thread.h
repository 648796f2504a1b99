#ifndef THREAD_H
#define THREAD_H

#include <QString>
#include <QThread>

// One upload run for one device row, on a thread of its own.
class Thread : public QThread
{
    Q_OBJECT

public:
    Thread(QString atPort, QString dataPort, QString ip, QString board);

signals:
    void updateover(QString, int, float);

protected:
    void run() override;

private:
    QString ip;
    QString atPort;
    QString dataPort;
    QString board;
};

#endif // THREAD_H
