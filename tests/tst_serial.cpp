// The serial layer against a real pseudo-terminal bound as COMn in a
// temporary program folder.

#include "store/MSComm.h"
#include "store/ProgramFolder.h"
#include "support/PtyPair.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// The number of the CommError that opening the port throws; 0 when it opens.
int openError(MSComm &port)
{
    try {
        port.setPortOpen(true);
    } catch (const CommError &error) {
        return error.number();
    }
    return 0;
}

} // namespace

class tst_serial : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void bytesGoBothWaysUnchanged();
    void openFailuresAndLostLine();

private:
    QTemporaryDir m_dir;
};

void tst_serial::init()
{
    ProgramFolder::set(m_dir.path());
}

void tst_serial::bytesGoBothWaysUnchanged()
{
    PtyPair pty(m_dir.path(), 3);
    MSComm port;
    QCOMPARE(MSComm::devicePath(3), pty.slavePath());
    port.setSettings("9600,N, 8, 1");
    port.setDTREnable(true); // no modem lines on a pseudo-terminal: not an error
    port.setCommPort(3);
    port.setRTSEnable(true);
    port.setPortOpen(true);
    QVERIFY(port.portOpen());
    QVERIFY_THROWS_EXCEPTION(CommError, port.setCommPort(4));

    const QString text = QStringLiteral("AT+CMGS=\"555\"\r") + QChar(0xE9) + QChar(0x1A) + QChar(0x0D);
    port.output(text);
    QCOMPARE(pty.read(), QByteArray("AT+CMGS=\"555\"\r\xe9\x1a\r"));

    QSignalSpy events(&port, &MSComm::OnComm);
    pty.write("\r\nOK\xe9\r\n");
    QTRY_VERIFY(events.size() >= 1);
    QCOMPARE(port.commEvent(), int(MSComm::comEvReceive));
    QString received = port.input();
    QTRY_VERIFY((received += port.input()).size() >= 7);
    QCOMPARE(received, QStringLiteral("\r\nOK") + QChar(0xE9) + QStringLiteral("\r\n"));
    QCOMPARE(port.input(), QString());

    port.setPortOpen(false);
    QVERIFY(!port.portOpen());
    QVERIFY_THROWS_EXCEPTION(CommError, port.output("AT\r"));
}

void tst_serial::openFailuresAndLostLine()
{
    MSComm port;
    port.setCommPort(7); // no COM7 link here: /dev/ttyS6 does not exist either
    QCOMPARE(openError(port), 8002);

    PtyPair pty(m_dir.path(), 2);
    MSComm first;
    first.setCommPort(2);
    first.setPortOpen(true);
    MSComm second;
    second.setCommPort(2);
    QCOMPARE(openError(second), 8005); // in use by another port
    QCOMPARE(openError(first), 8005);  // open already

    // A lock file left empty by a program killed as it locked the port:
    // respected while fresh, as its maker may still be filling it, and
    // cleared once it is old, without waiting for it to go stale.
    const QString lockName = QStringLiteral("LCK..") + pty.slavePath().mid(5).replace('/', '_');
    QString lock;
    for (const QString &folder : QStringList{"/var/lock", "/run/lock", "/tmp"}) {
        if (lock.isEmpty() && QFileInfo::exists(folder + "/" + lockName))
            lock = folder + "/" + lockName;
    }
    QVERIFY2(!lock.isEmpty(), qPrintable(lockName));
    first.setPortOpen(false);
    QFile unfinished(lock);
    QVERIFY(unfinished.open(QIODevice::WriteOnly));
    QCOMPARE(openError(second), 8005);
    QVERIFY(unfinished.setFileTime(QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime));
    unfinished.close();
    QCOMPARE(openError(second), 0);
    QVERIFY(second.portOpen());

    // The other end goes away: the port closes and tells the line is lost.
    QSignalSpy events(&second, &MSComm::OnComm);
    pty.hangUp();
    QTRY_VERIFY(!second.portOpen());
    QVERIFY(!events.isEmpty());
    QCOMPARE(second.commEvent(), int(MSComm::comEventLineLost));
}

QTEST_GUILESS_MAIN(tst_serial)
#include "tst_serial.moc"
