#include "modulelistener.h"

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

QTEST_GUILESS_MAIN(tst_ModuleListener)
#include "tst_modulelistener.moc"
