#include "announcer.h"
#include "modulelistener.h"

#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

using discovery::ModuleListener;

// The module listener's own seams; what it accepts is shown through the window (tst_listener)
// and quarnel-cli scan (tst_clilogic).
class tst_ModuleListener : public QObject
{
    Q_OBJECT

private slots:
    void failedBindIsReported();
    void sliceWithoutTimeStillReads();
};

// A port another program holds without sharing it: the listener says so instead of hearing nothing.
void tst_ModuleListener::failedBindIsReported()
{
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
    ModuleListener listener;
    QString error;
    QVERIFY(!listener.listen(holder.localPort(), &error, QHostAddress(QHostAddress::LocalHost)));
    QVERIFY(!error.isEmpty());
    QVERIFY(listener.listen(0, &error, QHostAddress(QHostAddress::LocalHost)));
}

// A slice with no time left (under Wine the own-address lookup alone took longer than a slice)
// still takes a datagram: the socket notifies again only after a read, so a readyRead answered
// without one would be the last, and the listener deaf from then on.
void tst_ModuleListener::sliceWithoutTimeStillReads()
{
    ModuleListener listener;
    listener.setDropOwnAddress(true);
    listener.setSliceMs(0);
    QString error;
    QVERIFY(listener.listen(0, &error, QHostAddress(QHostAddress::LocalHost)));
    connect(listener.socket(), &QUdpSocket::readyRead, &listener, &ModuleListener::readPending);
    QSignalSpy heard(&listener, &ModuleListener::heard);
    Announcer::targetPort() = listener.socket()->localPort();
    Announcer module(QHostAddress("127.0.0.2"));
    QVERIFY(module.isBound());
    for (int i = 0; i < 3; ++i)
        QVERIFY(module.send(Announcer::payload(QStringLiteral("127.0.0.2"))));
    QTRY_COMPARE(heard.count(), 3);
    QVERIFY(module.send(Announcer::payload(QStringLiteral("127.0.0.2"))));
    QTRY_COMPARE(heard.count(), 4);
}

QTEST_GUILESS_MAIN(tst_ModuleListener)
#include "tst_modulelistener.moc"
