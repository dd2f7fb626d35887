// An alert nobody acknowledged: its recipients on duty called and told,
// then the escalation list one name a step, then all again, until someone
// acknowledges or the chain ends; also across a kill of the relay. Through
// the real relay with a real outbox, Config.mdb and alert files, and test
// routes that hear phones and ring them; a minute lasts a few hundred ms.

#include "route/Route.h"
#include "store/ReplyOptions.h"
#include "support/FakeRoute.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunUntil.h"
#include "support/TestClock.h"
#include "support/TestRelay.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

namespace {

const QString Ann = QStringLiteral("+15550101");
const QString Bob = QStringLiteral("+15550102");
const QString Cy = QStringLiteral("+15550103");
const CallOutcome NoAnswer{CallOutcome::Result::NoAnswer, {}};

// The relay on a fake route named COM1 that can call, a minute `minuteMs`
// long, started.
struct Desk {
    Desk(FakeRoute &route, qint64 minuteMs)
        : relay(50, 10, false, TestRelay::NoHealthRounds)
    {
        relay.escalation().setMinuteMs(minuteMs);
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

void twoOnDutyAndCy(const ProgramFolderFixture &folder)
{
    folder.addUser("Ann", Ann, true);
    folder.addUser("Bob", Bob, true);
    folder.addUser("Cy", Cy, false);
    ReplyOptions::storeReplies(true);
    ReplyOptions::storeEscalate(1);
    ReplyOptions::storeEscalation({"Cy"});
}

int count(const ProgramFolderFixture &folder, const QString &sql)
{
    return folder.outboxRows(sql).value(0).value(0).toInt();
}

} // namespace

class tst_escalation : public QObject
{
    Q_OBJECT

private slots:
    void nobodyAnswersThenOneDoes();
    void codesNameAlerts();
    void aKillInTheMiddle();
    void randomRepliesAndRestarts();
};

void tst_escalation::nobodyAnswersThenOneDoes()
{
    ProgramFolderFixture folder;
    twoOnDutyAndCy(folder);
    const QString mt4 = folder.addWatchedFolder("mt4");
    FakeRoute com1(QStringLiteral("COM1"));
    com1.setCallOutcomes({NoAnswer});
    Desk desk(com1, 300);
    TestRelay &relay = desk.relay;

    writeAlerts(mt4, 1, 1);
    QVERIFY(relay.waitUntilIdle());
    QCOMPARE(com1.textsTo(Ann), QStringList({"Alert 1 #1"}));

    // A minute: both phones called and told.
    QTRY_VERIFY_WITH_TIMEOUT(com1.calls().size() >= 2, 5000);
    QCOMPARE(QStringList(com1.calls().mid(0, 2)), QStringList({Ann, Bob}));
    QVERIFY(relay.pageLog().text().contains("Not acknowledged within 1 minutes: #1"));
    QTRY_VERIFY(com1.textsTo(Bob).contains("Vantrel: not acknowledged #1: Alert 1"));
    QTRY_VERIFY(relay.pageLog().text().contains("Call to Ann (+15550101): no answer"));
    QVERIFY(relay.pageLog().text().contains("Calling Ann (+15550101) via COM1"));
    // A minute later the escalation list's first name.
    QTRY_VERIFY_WITH_TIMEOUT(com1.calls().contains(Cy), 5000);
    QVERIFY(relay.pageLog().text().contains("Escalated to Cy (+15550103): #1"));
    QTRY_VERIFY(com1.textsTo(Cy).contains("Vantrel: not acknowledged #1: Alert 1"));

    // Bob answers: the chain ends; Ann and Cy are told, Bob is not.
    QVERIFY(com1.hearSms(Bob, "ok"));
    QTRY_VERIFY(com1.textsTo(Cy).contains("Vantrel: #1 acknowledged by Bob"));
    QTRY_VERIFY(com1.textsTo(Ann).contains("Vantrel: #1 acknowledged by Bob"));
    QVERIFY(!com1.textsTo(Bob).contains("Vantrel: #1 acknowledged by Bob"));
    QVERIFY(relay.pageLog().text().contains("Acknowledged by Bob (+15550102): #1 Alert 1"));
    const qsizetype calls = com1.calls().size();
    QTest::qWait(900);
    QCOMPARE(com1.calls().size(), calls);
    QCOMPARE(count(folder, "SELECT ended FROM escalation"), 1);
}

void tst_escalation::codesNameAlerts()
{
    ProgramFolderFixture folder;
    twoOnDutyAndCy(folder);
    const QString mt4 = folder.addWatchedFolder("mt4");
    FakeRoute com1(QStringLiteral("COM1"));
    com1.setCallOutcomes({NoAnswer});
    Desk desk(com1, 60000); // no step comes while the test runs
    TestRelay &relay = desk.relay;
    const auto unacknowledged = [&] { return count(folder, "SELECT count(*) FROM alert WHERE acked = 0"); };

    writeAlerts(mt4, 1, 13);
    QVERIFY(relay.waitUntilIdle());
    QVERIFY(com1.textsTo(Ann).contains("Alert 12 #12"));
    QCOMPARE(count(folder, "SELECT count(DISTINCT code) FROM alert"), 13);

    // "OK 12": #12 alone; "#3" the same; then "OK" every other.
    QVERIFY(com1.hearSms(Ann, "OK 12"));
    QTRY_COMPARE(unacknowledged(), 12);
    QCOMPARE(count(folder, "SELECT code FROM alert WHERE acked = 1"), 12);
    QVERIFY(com1.hearSms(Bob, " #3"));
    QTRY_COMPARE(unacknowledged(), 11);
    // A code nobody holds: answered so.
    QVERIFY(com1.hearSms(Bob, "ok 99"));
    QTRY_VERIFY(com1.textsTo(Bob).contains("Vantrel: no alert #99 waits for you"));
    // A new alert takes the smallest free code.
    writeAlerts(mt4, 14, 14);
    QVERIFY(relay.waitUntilIdle());
    QVERIFY(com1.textsTo(Ann).contains("Alert 14 #3"));
    QVERIFY(com1.hearSms(Ann, "Ok"));
    QTRY_COMPARE(unacknowledged(), 0);

    // From the desk: every alert, every chain ended.
    writeAlerts(mt4, 15, 16);
    QVERIFY(relay.waitUntilIdle());
    QCOMPARE(relay.acknowledgeAll("desk"), 2);
    QCOMPARE(unacknowledged(), 0);
    QCOMPARE(count(folder, "SELECT count(*) FROM escalation WHERE ended = 0"), 0);
    QVERIFY(com1.calls().isEmpty());
}

void tst_escalation::aKillInTheMiddle()
{
    ProgramFolderFixture folder;
    twoOnDutyAndCy(folder);
    const QString mt4 = folder.addWatchedFolder("mt4");
    {
        FakeRoute com1(QStringLiteral("COM1"));
        com1.setCallOutcomes({NoAnswer});
        Desk desk(com1, 400);
        writeAlerts(mt4, 1, 1);
        QVERIFY(desk.relay.waitUntilIdle());
        QTRY_VERIFY_WITH_TIMEOUT(com1.calls().size() == 2, 5000);
    } // gone before the escalation list's step
    FakeRoute com1(QStringLiteral("COM1"));
    com1.setCallOutcomes({NoAnswer});
    Desk desk(com1, 400);
    TestRelay &relay = desk.relay;
    QTRY_VERIFY_WITH_TIMEOUT(com1.calls().size() >= 1, 5000);
    QCOMPARE(com1.calls().constFirst(), Cy);
    QVERIFY(!relay.pageLog().text().contains("Not acknowledged within"));
    // Three rounds, then the end.
    QTRY_VERIFY_WITH_TIMEOUT(relay.pageLog().text().contains("Nobody acknowledged #1"), 10000);
    QCOMPARE(count(folder, "SELECT count(*) FROM escalation_step"), 7);
    QCOMPARE(count(folder, "SELECT ended FROM escalation"), 2);
    QVERIFY(com1.textsTo(Cy).size() >= 3);
    relay.statusFile().changed();
    QTRY_VERIFY([&] {
        QFile file(folder.file("Status.json"));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QJsonObject unacked = QJsonDocument::fromJson(file.readAll()).object().value("unacknowledged").toObject();
        return unacked.value("count").toInt() == 1 && unacked.value("nobody_acknowledged").toInt() == 1
               && unacked.value("oldest_code").toInt() == 1;
    }());
}

void tst_escalation::randomRepliesAndRestarts()
{
    const quint32 seed = qEnvironmentVariableIsSet("VANTREL_SEED")
                             ? quint32(qEnvironmentVariableIntValue("VANTREL_SEED"))
                             : QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    auto failed = qScopeGuard([seed] { qWarning("tst_escalation seed: %u (VANTREL_SEED)", seed); });

    ProgramFolderFixture folder;
    twoOnDutyAndCy(folder);
    ReplyOptions::storeEscalation({"Cy", "Ann"});
    const QString mt4 = folder.addWatchedFolder("mt4");
    QDateTime now = QDateTime::currentDateTimeUtc();
    TestClock clock(now);
    const QList<CallOutcome> outcomes = {NoAnswer,
                                         {CallOutcome::Result::Answered, {}},
                                         {CallOutcome::Result::Busy, {}},
                                         {CallOutcome::Result::Failed, QStringLiteral("NO CARRIER")}};
    const QStringList phones = {Ann, Bob, Cy, QStringLiteral("+19995550000")};
    int written = 0;
    for (int life = 0; life < 4; ++life) {
        FakeRoute com1(QStringLiteral("COM1"));
        QList<CallOutcome> script;
        for (int i = 0; i < 20; ++i)
            script << outcomes[random.bounded(int(outcomes.size()))];
        com1.setCallOutcomes(script);
        Desk desk(com1, 1000);
        for (int step = 0; step < 25; ++step) {
            switch (random.bounded(6)) {
            case 0: {
                const int n = 1 + int(random.bounded(3));
                writeAlerts(mt4, written + 1, written + n);
                written += n;
                QVERIFY(desk.relay.waitUntilIdle());
                break;
            }
            case 1: {
                const QStringList replies = {"OK", "ok 1", "#2", "OK 3", "status", "hi"};
                com1.hearSms(phones[random.bounded(int(phones.size()))], replies[random.bounded(int(replies.size()))]);
                break;
            }
            case 2:
                com1.hearCall(phones[random.bounded(int(phones.size()))]);
                break;
            case 3:
                desk.relay.escalation().notDelivered(phones[random.bounded(3)]);
                break;
            default:
                // Up to three minutes on: the steps due are taken.
                now = now.addMSecs(qint64(random.bounded(3000)));
                clock.set(now);
                desk.relay.escalation().look();
                break;
            }
            QTest::qWait(5);
            // No code held twice among the alerts waiting.
            QCOMPARE(count(folder, "SELECT count(*) FROM (SELECT code FROM alert WHERE acked = 0 AND code IS NOT "
                                   "NULL GROUP BY code HAVING count(*) > 1)"),
                     0);
            // A chain ends with its alert's acknowledgement, or with nobody's.
            QCOMPARE(count(folder, "SELECT count(*) FROM escalation e JOIN alert a ON a.id = e.alert_id WHERE "
                                   "(e.ended = 1) <> (a.acked = 1)"),
                     0);
        }
    }
    // Long enough for every chain to run out: nothing is left under way.
    FakeRoute com1(QStringLiteral("COM1"));
    com1.setCallOutcomes({NoAnswer});
    Desk desk(com1, 1000);
    for (int i = 0; i < 12; ++i) {
        now = now.addSecs(60);
        clock.set(now);
        desk.relay.escalation().look();
    }
    QCOMPARE(count(folder, "SELECT count(*) FROM escalation WHERE ended = 0"), 0);
    QCOMPARE(count(folder, "SELECT count(*) FROM escalation e JOIN alert a ON a.id = e.alert_id WHERE (e.ended = 1) "
                           "<> (a.acked = 1)"),
             0);
    // Each chain took its steps in order, at most 3 rounds, and the end once.
    QVERIFY(count(folder, "SELECT count(*) FROM escalation_step WHERE round > 3") == 0);
    QVERIFY(count(folder, "SELECT count(*) FROM escalation WHERE ended = 2")
            <= count(folder, "SELECT count(*) FROM escalation_step WHERE step = -1"));
    QCOMPARE(count(folder, "SELECT count(*) FROM escalation_step s JOIN escalation e ON e.alert_id = s.alert_id "
                           "WHERE s.step = -1 AND e.ended = 0"),
             0);
    failed.dismiss();
}

QTEST_GUILESS_MAIN(tst_escalation)
#include "tst_escalation.moc"
