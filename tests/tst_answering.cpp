// Traders answer through a modem: the whole road from a phone's SMS or call
// on the simulated modem to the acknowledgement in the outbox and the page
// log, the escalation's calls going out through the same modem, and SMS
// that came while the program was not running.

#include "pickup/Escalation.h"
#include "store/ModemTable.h"
#include "store/ReplyOptions.h"
#include "support/ProgramFolderFixture.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QtTest>

namespace {

const QString Ann = QStringLiteral("+15550100");
const QString Bob = QStringLiteral("+15550200");

} // namespace

class tst_answering : public QObject
{
    Q_OBJECT

private slots:
    void tradersAnswerThroughTheModem();
};

void tst_answering::tradersAnswerThroughTheModem()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", Ann, true);
    folder.addUser("Bob", Bob, true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    ReplyOptions::storeReplies(true);
    ReplyOptions::storeEscalate(1);
    // Ann asked for the desk's state while the program was not running.
    SimulatedModem modem({"--sms", Ann + " status", "--dial", "busy"}, folder.path(), 1);
    QVERIFY(modem.isReady());

    TestRelay relay(1500, 60, false);
    const PageLog &log = relay.pageLog();
    relay.escalation().setMinuteMs(4000);
    relay.start();

    // Read from the SIM at start, deleted, answered.
    QTRY_VERIFY_WITH_TIMEOUT(log.text().contains("SMS from Ann (" + Ann + "): status"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(modem.textsTo(Ann).filter(QRegularExpression("^Vantrel: ")).size() == 1, 10000);
    QVERIFY(modem.log().contains("AT+CMGD"));

    // An alert goes with its code; "OK" from Ann's phone acknowledges it.
    writeAlerts(mt4, 1, 1);
    QTRY_VERIFY_WITH_TIMEOUT(modem.textsTo(Bob).contains("Alert 1 #1"), 10000);
    QVERIFY(modem.control("sms " + Ann + " OK"));
    QTRY_VERIFY_WITH_TIMEOUT(log.text().contains("Acknowledged by Ann (" + Ann + "): #1 Alert 1"), 10000);

    // A missed call from Bob's phone acknowledges the next, hung up unanswered.
    writeAlerts(mt4, 2, 2);
    QTRY_VERIFY_WITH_TIMEOUT(modem.textsTo(Bob).filter(QRegularExpression("^Alert 2 #\\d+$")).size() == 1, 10000);
    QVERIFY(modem.control("ring " + Bob));
    QTRY_VERIFY_WITH_TIMEOUT(
        log.text().contains(QRegularExpression("Acknowledged by Bob \\(\\" + Bob + "\\): #\\d+ Alert 2")), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(modem.textsTo(Bob).contains("Vantrel: acknowledged 1 alert"), 10000);

    // Nobody answers the third: both phones are called through the modem
    // and told; then a reply ends the chain and the other hears who.
    writeAlerts(mt4, 3, 3);
    QTRY_VERIFY_WITH_TIMEOUT(log.text().contains("Calling Ann (" + Ann + ") via COM1"), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(log.text().contains("Call to Bob (" + Bob + "): busy"), 20000);
    QVERIFY(modem.log().contains("ATD" + Ann + ";"));
    QTRY_VERIFY_WITH_TIMEOUT(
        modem.textsTo(Ann).filter(QRegularExpression("^Vantrel: not acknowledged #\\d+: Alert 3$")).size() == 1, 10000);
    QVERIFY(modem.control("sms " + Bob + " ok"));
    QTRY_VERIFY_WITH_TIMEOUT(
        modem.textsTo(Ann).filter(QRegularExpression("^Vantrel: #\\d+ acknowledged by Bob$")).size() == 1, 10000);
    QVERIFY(!log.text().contains("Nobody acknowledged"));
    QVERIFY(relay.waitUntilIdle());
}

QTEST_GUILESS_MAIN(tst_answering)
#include "tst_answering.moc"
