// The serial layer against a real pseudo-terminal bound as COMn in a
// temporary program folder.

#include "store/MSComm.h"
#include "store/ProgramFolder.h"
#include "support/PtyPair.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_serial : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void bytesGoBothWaysUnchanged();
    void openFailures();
    void lostLineIsReported();

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
    const QByteArray arrived = pty.read();
    QCOMPARE(arrived, QByteArray("AT+CMGS=\"555\"\r\xe9\x1a\r"));

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

void tst_serial::openFailures()
{
    MSComm port;
    port.setCommPort(7); // no COM7 link here: /dev/ttyS6 does not exist either
    try {
        port.setPortOpen(true);
        QFAIL("a missing port opened");
    } catch (const CommError &error) {
        QCOMPARE(error.number(), 8002);
        QCOMPARE(error.description(), QString("Invalid port number"));
    }

    PtyPair pty(m_dir.path(), 2);
    MSComm first;
    first.setCommPort(2);
    first.setPortOpen(true);
    MSComm second;
    second.setCommPort(2);
    try {
        second.setPortOpen(true);
        QFAIL("a port in use opened twice");
    } catch (const CommError &error) {
        QCOMPARE(error.number(), 8005);
        QCOMPARE(error.description(), QString("Port already open"));
    }
    try {
        first.setPortOpen(true);
        QFAIL("an open port opened again");
    } catch (const CommError &error) {
        QCOMPARE(error.number(), 8005);
    }
    first.setPortOpen(false);
    second.setPortOpen(true);
    QVERIFY(second.portOpen());
}

void tst_serial::lostLineIsReported()
{
    PtyPair pty(m_dir.path(), 5);
    MSComm port;
    port.setCommPort(5);
    port.setPortOpen(true);
    QSignalSpy events(&port, &MSComm::OnComm);
    pty.hangUp();
    QTRY_VERIFY(!port.portOpen());
    QVERIFY(!events.isEmpty());
    QCOMPARE(port.commEvent(), int(MSComm::comEventLineLost));
}

QTEST_GUILESS_MAIN(tst_serial)
#include "tst_serial.moc"
