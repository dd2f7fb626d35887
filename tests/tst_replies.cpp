// The traders answer back: SMS from their phones are kept, said and obeyed
// ("OK", "OK N", "#N", "ON", "OFF", "STATUS"), a missed call acknowledges,
// and the answers are capped; through the real relay with a real outbox,
// Config.mdb and alert files, and test routes that hear phones.

#include "route/Route.h"
#include "store/ReplyOptions.h"
#include "support/FakeRoute.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunUntil.h"
#include "support/TestRelay.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

const QString Ann = QStringLiteral("+15550101");
const QString Bob = QStringLiteral("+15550102");
const QString Cy = QStringLiteral("+15550103");

// The relay on a fake route named COM1, started.
struct Desk {
    explicit Desk(FakeRoute &route)
        : relay(50, 10, false, TestRelay::NoHealthRounds)
    {
        std::vector<std::unique_ptr<Route>> routes;
        routes.push_back(std::make_unique<Route>(route, RoutePolicy::modem(), relay.pageLog()));
        relay.routes().sendOnlyBy(std::move(routes));
        // As a modem's line does: the relay's own SMS, sent beside the
        // dispatcher's, free it again.
        QObject::connect(&route, &FakeRoute::idle, &relay.routes(), &RouteSet::routeFreed);
        relay.start();
    }
    TestRelay relay;
};

} // namespace

class tst_replies : public QObject
{
    Q_OBJECT

private slots:
    void commandsFromUsersPhones();
    void cappedAndKeptOverARestart();
    void withoutTheSettingNothingListens();
};

void tst_replies::commandsFromUsersPhones()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+1 555 0101", true); // written otherwise than the network gives it
    folder.addUser("Bob", Bob, true);
    folder.addUser("Cy", Cy, false);
    const QString mt4 = folder.addWatchedFolder("mt4");
    ReplyOptions::storeReplies(true);
    FakeRoute com1(QStringLiteral("COM1"));
    Desk desk(com1);
    TestRelay &relay = desk.relay;
    QVERIFY(com1.listening());
    const auto unacknowledged = [&] {
        return folder.outboxRows("SELECT count(*) FROM alert WHERE acked = 0").value(0).value(0).toInt();
    };

    writeAlerts(mt4, 1, 3);
    QVERIFY(relay.waitUntilIdle());
    QCOMPARE(com1.textsTo(Bob), QStringList({"Alert 1", "Alert 2", "Alert 3"}));
    const qsizetype sent = com1.accepted().size();

    // An unknown number: said, nothing else.
    QVERIFY(com1.hearSms("+19995550000", "OK"));
    QTRY_VERIFY(relay.pageLog().text().contains("SMS from an unknown number +19995550000 ignored"));
    QCOMPARE(unacknowledged(), 3);
    QCOMPARE(folder.outboxRows("SELECT count(*) FROM incoming_sms").value(0).value(0).toInt(), 1);

    // "ok" with spaces from Ann: every alert sent to her phone.
    QVERIFY(com1.hearSms(Ann, "  ok "));
    QTRY_COMPARE(unacknowledged(), 0);
    QVERIFY(relay.pageLog().text().contains("SMS from Ann (+15550101):   ok "));
    QVERIFY(relay.pageLog().text().contains("Acknowledged by Ann (+15550101): Alert 2"));
    QCOMPARE(folder.outboxRows("SELECT count(*) FROM sms WHERE acked_by = 'Ann'").value(0).value(0).toInt(), 3);
    QCOMPARE(folder.outboxRows("SELECT count(*) FROM sms WHERE acked_by IS NULL").value(0).value(0).toInt(), 3);
    QTest::qWait(50);
    QCOMPARE(com1.accepted().size(), sent);

    // Duty by SMS: Bob goes off, told on his phone; Ann, now the last on
    // duty, may not; Cy comes on. The next alert goes to Ann and Cy.
    QVERIFY(com1.hearSms(Bob, "off"));
    QTRY_VERIFY(com1.textsTo(Bob).contains("Vantrel: you are now off duty"));
    QVERIFY(relay.pageLog().text().contains("Bob (+15550102) is now off duty"));
    QVERIFY(com1.hearSms(Ann, "OFF"));
    QTRY_VERIFY(
        com1.textsTo(Ann).contains("Vantrel: you are the last on duty; you stay on duty until someone else is."));
    QVERIFY(com1.hearSms(Cy, "On"));
    QTRY_VERIFY(com1.textsTo(Cy).contains("Vantrel: you are now on duty"));
    QCOMPARE(folder.values("SELECT name FROM USERS WHERE On_Duty ORDER BY name"), QStringList({"Ann", "Cy"}));
    writeAlerts(mt4, 4, 4);
    QVERIFY(relay.waitUntilIdle());
    QVERIFY(com1.textsTo(Cy).contains("Alert 4"));
    QVERIFY(com1.textsTo(Ann).contains("Alert 4"));
    QVERIFY(!com1.textsTo(Bob).contains("Alert 4"));

    // A missed call from Cy: her alert, answered with the count.
    QVERIFY(com1.hearCall(Cy));
    QTRY_VERIFY(com1.textsTo(Cy).contains("Vantrel: acknowledged 1 alert"));
    QCOMPARE(unacknowledged(), 0);
    // An unknown caller: said, nothing else.
    const qsizetype beforeCall = com1.accepted().size();
    QVERIFY(com1.hearCall("+19995550000"));
    QVERIFY(relay.pageLog().text().contains("Call from an unknown number +19995550000 ignored"));

    // STATUS gets the heartbeat's words; anything else one help an hour.
    QVERIFY(com1.hearSms(Ann, "status"));
    QTRY_VERIFY(com1.textsTo(Ann).filter("Vantrel: OK:").size() == 1);
    QVERIFY(com1.hearSms(Ann, "what?"));
    QVERIFY(com1.hearSms(Ann, "hello?"));
    QTRY_VERIFY(com1.textsTo(Ann).filter("reply OK").size() == 1);
    QTest::qWait(100);
    QCOMPARE(com1.textsTo(Ann).filter("reply OK").size(), 1);
    QCOMPARE(com1.accepted().size(), beforeCall + 2);
}

void tst_replies::cappedAndKeptOverARestart()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", Ann, true);
    folder.addUser("Bob", Bob, true);
    folder.addWatchedFolder("mt4");
    ReplyOptions::storeReplies(true);
    {
        FakeRoute com1(QStringLiteral("COM1"));
        Desk desk(com1);
        // Two automatic responders: at most 10 answers an hour to a phone.
        for (int i = 0; i < 15; ++i)
            QVERIFY(com1.hearSms(Ann, "STATUS"));
        QTRY_COMPARE(com1.textsTo(Ann).size(), Replies::MaxAnswersPerHour);
        QTest::qWait(100);
        QCOMPARE(com1.textsTo(Ann).size(), Replies::MaxAnswersPerHour);
        QVERIFY(desk.relay.pageLog().text().contains("No more answers to Ann (+15550101) this hour: 10 were sent"));
        QCOMPARE(folder.outboxRows("SELECT count(*) FROM incoming_sms WHERE handled = 0").value(0).value(0).toInt(), 0);
    }
    // Kept before a kill and not handled: handled at the next start, once.
    folder.execOutbox("INSERT INTO incoming_sms (number, text, route, received_at, user_name) VALUES ('+15550102', "
                      "'OFF', 'COM1', 0, 'Bob')");
    {
        FakeRoute com1(QStringLiteral("COM1"));
        Desk desk(com1);
        QTRY_VERIFY(com1.textsTo(Bob).contains("Vantrel: you are now off duty"));
        QCOMPARE(folder.values("SELECT name FROM USERS WHERE On_Duty"), QStringList({"Ann"}));
    }
    {
        FakeRoute com1(QStringLiteral("COM1"));
        Desk desk(com1);
        QTest::qWait(100);
        QVERIFY(com1.textsTo(Bob).isEmpty());
        // The same SMS offered again, as a modem does whose delete failed
        // after it was kept: obeyed once.
        const QDateTime stamp = QDateTime::fromString("2026-12-10T09:30:00Z", Qt::ISODate);
        QVERIFY(com1.hearSms(Bob, "ON", stamp));
        QVERIFY(com1.hearSms(Bob, "ON", stamp));
        QTRY_VERIFY(com1.textsTo(Bob).contains("Vantrel: you are now on duty"));
        QTest::qWait(100);
        QCOMPARE(com1.textsTo(Bob).size(), 1);
        QCOMPARE(folder.outboxRows("SELECT text FROM incoming_sms WHERE number = '+15550102'").size(), 2);
    }
    const QJsonObject status = QJsonDocument::fromJson([&] {
                                   QFile file(folder.file("Status.json"));
                                   return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
                               }())
                                   .object();
    QCOMPARE(status.value("incoming_24h").toInt(), 15);
    QVERIFY(status.value("unacknowledged").isObject());
}

void tst_replies::withoutTheSettingNothingListens()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", Ann, true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    ReplyOptions::storeEscalate(5); // ignored without replies
    FakeRoute com1(QStringLiteral("COM1"));
    com1.setCallOutcomes({{CallOutcome::Result::NoAnswer, {}}});
    Desk desk(com1);
    QVERIFY(!com1.listening());
    QVERIFY(!com1.hearSms(Ann, "OK"));
    writeAlerts(mt4, 1, 1);
    QVERIFY(desk.relay.waitUntilIdle());
    QCOMPARE(com1.textsTo(Ann), QStringList({"Alert 1"}));
    QCOMPARE(folder.outboxRows("SELECT count(*) FROM escalation").value(0).value(0).toInt(), 0);
    QVERIFY(com1.calls().isEmpty());
}

QTEST_GUILESS_MAIN(tst_replies)
#include "tst_replies.moc"
