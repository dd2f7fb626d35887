#include "modem/PageLog.h"
#include "modem/SmsSendJob.h"
#include "route/Route.h"
#include "route/RouteStanding.h"
#include "store/Clock.h"
#include "support/FakeRoute.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunUntil.h"
#include "support/TestClock.h"
#include "support/TestRelay.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <map>
#include <memory>

namespace {

SendOutcome outcome(SendOutcome::Failure failure)
{
    SendOutcome made;
    made.sent = failure == SendOutcome::Failure::None;
    made.failure = failure;
    made.reason = made.sent ? QString() : QStringLiteral("why");
    return made;
}

const SendOutcome Sent = outcome(SendOutcome::Failure::None);
const SendOutcome Refused = outcome(SendOutcome::Failure::Refused);
const SendOutcome Destination = outcome(SendOutcome::Failure::Destination);
const SendOutcome Silent = outcome(SendOutcome::Failure::NoAnswer);
const SendOutcome Unanswered = outcome(SendOutcome::Failure::Unanswered);

QString describe(const QList<QVariantList> &rows)
{
    QString text;
    for (const QVariantList &row : rows)
        text += QLatin1String("; ") + QVariant(row).toStringList().join(QLatin1Char(' '));
    return text;
}

} // namespace

class tst_routes : public QObject
{
    Q_OBJECT

private slots:
    void standing();
    void probes();
    void anOutcomeTheOutboxCannotTake();
    void randomFaults();

private:
    bool runSeed(quint32 seed, QString *why);
};

void tst_routes::standing()
{
    using State = RouteState;
    using Change = RouteStanding::Change;

    // A modem: three failures in a row set it aside while another covers;
    // a refusal about the number counts for nothing; alone it goes on.
    RouteStanding modem(RoutePolicy::modem());
    QCOMPARE(modem.tried(Refused, true), Change::Changed);
    QCOMPARE(modem.tried(Destination, true), Change::Changed);
    QCOMPARE(modem.tried(Unanswered, true), Change::Changed);
    QCOMPARE(modem.tried(Refused, false), Change::Changed);
    QCOMPARE(modem.state(), State::InService);
    QCOMPARE(modem.tried(Refused, true), Change::SetAside);
    QCOMPARE(modem.state(), State::SetAside);
    QVERIFY(!modem.mayTake() && modem.needsProbe());
    // Set aside: a silent probe keeps it so, an answer puts it on trial, a
    // sent SMS back in service.
    QCOMPARE(modem.probed(false), Change::None);
    QCOMPARE(modem.probed(true), Change::Trial);
    QVERIFY(modem.mayTake() && modem.needsProbe());
    QCOMPARE(modem.tried(Sent, true), Change::Back);
    QCOMPARE(modem.state(), State::InService);
    QVERIFY(!modem.needsProbe());
    // On trial: a failure sets it aside again at once; a probe that answers
    // takes it back without an SMS; one that does not, aside again.
    modem.tried(Silent, true);
    QCOMPARE(modem.state(), State::SetAside);
    modem.probed(true);
    QCOMPARE(modem.tried(Refused, false), Change::SetAside);
    modem.probed(true);
    QCOMPARE(modem.probed(true), Change::Back);
    modem.tried(Silent, true);
    modem.probed(true);
    QCOMPARE(modem.probed(false), Change::Changed);
    QCOMPARE(modem.state(), State::SetAside);
    // A silent modem alone is never set aside: nobody covers for it.
    RouteStanding lone(RoutePolicy::modem());
    for (int i = 0; i < 5; ++i)
        QCOMPARE(lone.tried(Silent, false), Change::Changed);
    QCOMPARE(lone.state(), State::InService);

    // Down and up from its health, whatever it stood at; down, it takes
    // nothing and is probed; out of service and back, it is still down
    // until its health says otherwise.
    QCOMPARE(modem.setDown("no answer"), Change::Down);
    QCOMPARE(modem.reason(), QString("no answer"));
    QVERIFY(!modem.mayTake() && modem.needsProbe());
    QCOMPARE(modem.setDown("SIM missing"), Change::Changed);
    QCOMPARE(modem.setInService(false), Change::Changed);
    QVERIFY(!modem.needsProbe());
    QCOMPARE(modem.setDown("no signal"), Change::None);
    QCOMPARE(modem.setInService(true), Change::Changed);
    QCOMPARE(modem.state(), State::Down);
    QCOMPARE(modem.reason(), QString("no signal"));
    QCOMPARE(modem.setUp(), Change::Up);
    QCOMPARE(modem.state(), State::InService);
    QCOMPARE(modem.setUp(), Change::None);
    modem.setInService(false);
    QCOMPARE(modem.setInService(true), Change::Changed);
    QCOMPARE(modem.state(), State::InService);

    // The gateway: unreachable, it is set aside at once, also alone.
    RouteStanding gateway(RoutePolicy::gateway());
    QCOMPARE(gateway.tried(Silent, false), Change::SetAside);
    gateway.probed(true);
    gateway.tried(Sent, false);
    gateway.tried(Refused, false);
    gateway.tried(Refused, false);
    QCOMPARE(gateway.tried(Refused, false), Change::SetAside);
}

void tst_routes::probes()
{
    PageLog pageLog;
    FakeRoute fake(QStringLiteral("R1"));
    Route route(fake, RoutePolicy::modem(), pageLog);
    route.setProbeMs(20);
    QSignalSpy back(&route, &Route::back);
    QSignalSpy health(&route, &Route::healthWanted);
    QVERIFY(!route.probeScheduled());

    // Set aside: asked on its timer, again and again while it is silent.
    fake.setAlive(false);
    route.tried(Silent, true);
    QCOMPARE(route.state(), RouteState::SetAside);
    QVERIFY(route.probeScheduled());
    QTRY_VERIFY(fake.probes() >= 3);
    QCOMPARE(route.state(), RouteState::SetAside);
    QVERIFY(pageLog.text().contains("Route R1 set aside: why"));

    // It answers: on trial, then, with no SMS to try it, back in service
    // by its next answer; no probe after that.
    // Each state is seen as it comes: on a loaded machine the next probe may
    // fall between two looks.
    QList<RouteState> states;
    connect(&route, &Route::changed, &route, [&] { states << route.state(); });
    fake.setAlive(true);
    QTRY_VERIFY(states.contains(RouteState::OnTrial));
    QTRY_COMPARE(route.state(), RouteState::InService);
    QCOMPARE(states.indexOf(RouteState::OnTrial) < states.indexOf(RouteState::InService), true);
    QVERIFY(!route.probeScheduled());
    QCOMPARE(back.size(), 2);
    const int probes = fake.probes();
    QTest::qWait(60);
    QCOMPARE(fake.probes(), probes);

    // Down: its probe asks for its health, on and on, until it is up.
    health.clear();
    route.setDown(QStringLiteral("no answer"));
    QTRY_VERIFY(health.size() >= 2);
    route.setUp();
    QVERIFY(!route.probeScheduled());
    QCOMPARE(route.state(), RouteState::InService);

    // Out of service: no probe at all; back, down as it was, and asked.
    route.setDown(QStringLiteral("SIM missing"));
    route.setInService(false, false);
    QVERIFY(!route.probeScheduled());
    route.setInService(true, false);
    QCOMPARE(route.status().stateWithReason(), QString("down (SIM missing)"));
    QVERIFY(route.probeScheduled());
}

void tst_routes::anOutcomeTheOutboxCannotTake()
{
    // The outbox can be read but not written (another program holds it) when
    // an SMS's try ends: the SMS is not sent again while its outcome waits,
    // and the outcome is committed once the outbox takes it.
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    TestRelay relay(50, 10, false, TestRelay::NoHealthRounds);
    FakeRoute fake(QStringLiteral("R1"));
    fake.setDelayMs(300);
    std::vector<std::unique_ptr<Route>> routes;
    routes.push_back(std::make_unique<Route>(fake, RoutePolicy::modem(), relay.pageLog()));
    relay.routes().sendOnlyBy(std::move(routes));
    relay.start();

    writeAlerts(mt4, 1, 1);
    QTRY_COMPARE(fake.tries(), 1);
    {
        QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
        locker.setDatabaseName(folder.file(QStringLiteral("Outbox.db")));
        QVERIFY(locker.open());
        QSqlQuery lock(locker);
        QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QTRY_VERIFY(relay.pageLog().text().contains("The outbox cannot be written"));
        runUntil([] { return false; }, 3000);
        QCOMPARE(fake.tries(), 1);
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        locker.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("locker"));
    QTRY_COMPARE_WITH_TIMEOUT(folder.outboxRows("SELECT state, tries FROM sms"), QList<QVariantList>({{"sent", 1}}),
                              10000);
    QVERIFY(relay.waitUntilIdle(5000));
    QCOMPARE(fake.tries(), 1);
    QCOMPARE(relay.pageLog().text().count("Sending to Ann (+111)"), 1);
}

bool tst_routes::runSeed(quint32 seed, QString *why)
{
    QRandomGenerator random(seed);
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    folder.addUser("Bob", "+222", true);
    folder.addUser("Cy", "+333", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    TestClock clock(QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC));
    const auto advance = [&](qint64 ms) { clock.set(Clock::nowUtc().addMSecs(ms)); };

    TestRelay relay(50, 10, false, TestRelay::NoHealthRounds);
    const bool reports = random.bounded(2) == 0;
    if (reports)
        relay.setDeliveryReports(true);

    // The network's side: the tokens of each SMS as its copies were taken,
    // the reports on their way, and those the gateway sent.
    std::map<qint64, QStringList> tokensOf;
    std::map<qint64, QStringList> answeredTokensOf;
    QList<std::pair<QString, int>> reportsDue;
    std::map<QString, QList<int>> reportsSent;
    const auto report = [&](const QString &token, int type) {
        reportsSent[token] << type;
        emit relay.routes().reported(token, type, type == 1 ? QString() : QStringLiteral("expired"));
    };

    // Routes "R1", "R2" ... and at most one gateway, whose reports name
    // each SMS by its token.
    bool mended = false; // from then on every copy reaches its phone
    std::vector<std::unique_ptr<FakeRoute>> fakes;
    std::vector<Route *> route;
    bool gatewayMade = false;
    const auto makeRoute = [&]() {
        const bool gateway = !gatewayMade && !fakes.empty() && random.bounded(3) == 0;
        gatewayMade = gatewayMade || gateway;
        fakes.push_back(std::make_unique<FakeRoute>(gateway ? QStringLiteral("gateway")
                                                            : QStringLiteral("R%1").arg(fakes.size() + 1)));
        FakeRoute &fake = *fakes.back();
        fake.setDelayMs(int(random.bounded(3)));
        fake.setReportsByToken(gateway);
        fake.setOnTaken([&](const SmsRequest &request, bool answered) {
            // Each copy in the order the network took them; a modem's with
            // no token, as only the gateway's reports come here. A copy
            // whose answer was lost the outbox never knows of.
            tokensOf[request.id] << request.token;
            if (answered)
                answeredTokensOf[request.id] << request.token;
            if (request.token.isEmpty())
                return;
            const int type = !mended && random.bounded(4) == 0 ? 2 : 1;
            // Now and then before the answer to the message, or twice.
            if (random.bounded(4) == 0)
                report(request.token, type);
            reportsDue << std::pair{request.token, type};
            if (random.bounded(5) == 0)
                reportsDue << std::pair{request.token, type};
        });
        auto made =
            std::make_unique<Route>(fake, gateway ? RoutePolicy::gateway() : RoutePolicy::modem(), relay.pageLog());
        route.push_back(made.get());
        return made;
    };
    std::vector<std::unique_ptr<Route>> first;
    const int count = 1 + int(random.bounded(3));
    for (int i = 0; i < count; ++i)
        first.push_back(makeRoute());
    relay.routes().sendOnlyBy(std::move(first));
    relay.setProbeMs(15);
    relay.setFailoverWaitMs(30);
    relay.start();

    // Cycles counted per 100 ms of real time: a desk that cannot send must
    // not spin.
    QElapsedTimer window;
    window.start();
    int cyclesInWindow = 0;
    int mostCycles = 0;
    connect(&relay, &AlertRelay::cycleEnded, this, [&] {
        if (window.elapsed() > 100) {
            window.restart();
            cyclesInWindow = 0;
        }
        mostCycles = qMax(mostCycles, ++cyclesInWindow);
    });

    // Another program holds the outbox for a while.
    QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
    locker.setDatabaseName(folder.file(QStringLiteral("Outbox.db")));
    bool locked = false;
    bool lockedOnce = false;
    const auto lock = [&](bool on) {
        if (on == locked || !locker.open())
            return;
        QSqlQuery(locker).exec(on ? QStringLiteral("BEGIN EXCLUSIVE") : QStringLiteral("ROLLBACK"));
        locked = on;
    };

    using Answer = FakeRoute::Answer;
    const Answer answers[] = {Answer::Sent,    Answer::Sent,        Answer::Sent,
                              Answer::Refused, Answer::Destination, Answer::NoAnswer,
                              Answer::Port,    Answer::Unanswered,  Answer::PartRefused};
    const QString longText = QStringLiteral("Long alert ") + QString(170, QLatin1Char('x'));
    int written = 0;
    for (int step = 0; step < 60; ++step) {
        switch (random.bounded(11)) {
        case 0:
        case 1: {
            const int n = 1 + int(random.bounded(3));
            writeAlerts(mt4, written + 1, written + n, random.bounded(3) == 0 ? longText : QStringLiteral("Alert"));
            written += n;
            break;
        }
        case 2: {
            FakeRoute &fake = *fakes[random.bounded(quint32(fakes.size()))];
            // Now and then a route answers each SMS its own way.
            if (random.bounded(3) == 0) {
                const quint32 mix = random.generate();
                fake.setAnswer([mix, &answers](const SmsRequest &request) {
                    return answers[(mix + quint32(request.id) * 7) % std::size(answers)];
                });
            } else {
                fake.setAnswer(answers[random.bounded(quint32(std::size(answers)))]);
            }
            break;
        }
        case 3:
            fakes[random.bounded(quint32(fakes.size()))]->setAlive(random.bounded(2) == 0);
            break;
        case 4:
            if (!route.empty()) {
                Route &picked = *route[random.bounded(quint32(route.size()))];
                random.bounded(2) == 0 ? picked.setDown(QStringLiteral("no signal")) : picked.setUp();
            }
            break;
        case 5:
            if (!route.empty())
                route[random.bounded(quint32(route.size()))]->setInService(random.bounded(3) != 0, false);
            break;
        case 6:
            // A route removed, or one more added.
            if (!route.empty() && random.bounded(2) == 0) {
                const auto at = route.begin() + random.bounded(quint32(route.size()));
                relay.routes().stopSendingBy(*at);
                route.erase(at);
            } else if (fakes.size() < 6) {
                relay.routes().sendAlsoBy(makeRoute());
            }
            break;
        case 7:
            // Now and then another program holds the outbox for a moment;
            // each query the relay makes meanwhile waits out its busy time,
            // so once a run at most.
            if (lockedOnce || seed % 4 != 0)
                break;
            lockedOnce = true;
            lock(true);
            QTest::qWait(int(random.bounded(150)));
            if (random.bounded(2) == 0)
                advance(qint64(60000) * (1 + random.bounded(60)));
            QTest::qWait(int(random.bounded(150)));
            lock(false);
            break;
        case 8:
            // Reports come, in any order, late or not at all for a while.
            for (int n = int(random.bounded(4)); n > 0 && !reportsDue.isEmpty(); --n) {
                const auto [token, type] = reportsDue.takeAt(random.bounded(quint32(reportsDue.size())));
                report(token, type);
            }
            break;
        default:
            // A minute to two hours pass: retries fall due.
            advance(qint64(60000) * (1 + random.bounded(120)));
            break;
        }
        QTest::qWait(int(random.bounded(6)));
    }

    // Every route mends: each SMS ends sent or given up, none is stuck; the
    // reports still on their way come.
    locker.close();
    mended = true;
    if (route.empty())
        relay.routes().sendAlsoBy(makeRoute());
    for (const std::unique_ptr<FakeRoute> &fake : fakes) {
        fake->setAnswer(Answer::Sent);
        fake->setAlive(true);
    }
    for (Route *each : route) {
        each->setInService(true, false);
        each->setUp();
    }
    for (int round = 0; round < 20 && (!relay.waitUntilIdle(300) || !reportsDue.isEmpty()); ++round) {
        while (!reportsDue.isEmpty()) {
            const auto [token, type] = reportsDue.takeFirst();
            report(token, type);
        }
        advance(qint64(3600) * 1000);
    }

    const auto fail = [&](const QString &text) {
        if (qEnvironmentVariableIsSet("VANTREL_SHOW"))
            qInfo().noquote() << relay.pageLog().text();
        *why = text;
        return false;
    };
    if (!relay.waitUntilIdle(2000))
        return fail(QStringLiteral("the relay never came to rest: cycle %1, sending %2, %3 alerts open, files %4")
                        .arg(relay.cycleRunning())
                        .arg(relay.sending())
                        .arg(folder
                                 .outboxRows("SELECT count(*) FROM alert WHERE first_done = 0 OR logged = 0 OR id IN "
                                             "(SELECT alert_id FROM sms WHERE state = 'waiting')")[0][0]
                                 .toInt())
                        .arg(folderEntries(mt4).join(QLatin1Char(' ')))
                    + describe(folder.outboxRows(
                        QStringLiteral("SELECT s.id, s.state, s.tries, s.next_try - %1, a.first_done, a.logged "
                                       "FROM sms s JOIN alert a ON a.id = s.alert_id WHERE s.state = 'waiting' "
                                       "OR a.logged = 0")
                            .arg(Clock::nowUtc().toMSecsSinceEpoch()))));
    if (!folderEntries(mt4).isEmpty())
        return fail(QStringLiteral("an alert file was left in its folder"));
    const QList<QVariantList> sms =
        folder.outboxRows("SELECT s.id, s.state, s.tries, a.message, d.state FROM sms s JOIN alert a ON a.id = "
                          "s.alert_id LEFT JOIN delivery d ON d.sms_id = s.id ORDER BY s.id");
    if (sms.size() != written * 3)
        return fail(QStringLiteral("%1 SMS for %2 alerts").arg(sms.size()).arg(written));
    std::map<qint64, int> accepted;
    std::map<qint64, int> lost;
    // The parts each SMS got to its phone, by sender and reference.
    std::map<qint64, std::map<std::pair<const FakeRoute *, int>, QSet<int>>> joined;
    for (const std::unique_ptr<FakeRoute> &fake : fakes) {
        for (const SmsRequest &request : fake->accepted())
            ++accepted[request.id];
        for (const qint64 id : fake->lostAnswers())
            ++lost[id];
        for (const FakeRoute::Part &part : fake->parts())
            joined[part.id][{fake.get(), part.reference}].insert(part.part);
    }
    int givenUp = 0;
    for (const QVariantList &row : sms) {
        const qint64 id = row[0].toLongLong();
        const QString state = row[1].toString();
        if (state == QLatin1String("waiting"))
            return fail(QStringLiteral("SMS %1 still waits after %2 tries").arg(id).arg(row[2].toInt()));
        if (state == QLatin1String("sent") && accepted[id] == 0)
            return fail(QStringLiteral("SMS %1 is said sent, and no route took it").arg(id));
        givenUp += state == QLatin1String("failed") ? 1 : 0;
        // Twice only where an answer was lost on the way back, or the
        // network said it did not deliver a copy.
        int notDelivered = 0;
        for (const QString &token : tokensOf[id])
            notDelivered += int(reportsSent[token].count(2));
        if (accepted[id] > 1 + lost[id] + notDelivered)
            return fail(QStringLiteral("SMS %1 was taken %2 times, %3 answers lost, %4 not delivered")
                            .arg(id)
                            .arg(accepted[id])
                            .arg(lost[id])
                            .arg(notDelivered));
        // A phone that has the SMS has all its parts from one sender under
        // one reference.
        const int parts = FakeRoute::partsOf(SmsSendJob::sendableText(row[3].toString()));
        const bool whole = std::any_of(joined[id].cbegin(), joined[id].cend(),
                                       [parts](const auto &each) { return each.second.size() == parts; });
        if (state == QLatin1String("sent") && !whole)
            return fail(QStringLiteral("SMS %1 is said sent, and no phone could join its %2 parts").arg(id).arg(parts));
        // Delivered once any copy reached the phone; not delivered only as
        // the network said of the copy that counts, the last one the outbox
        // heard was taken.
        const QString delivery = row[4].toString();
        const QStringList &copies = tokensOf[id];
        const bool anyDelivered = std::any_of(copies.cbegin(), copies.cend(), [&](const QString &token) {
            return !token.isEmpty() && reportsSent[token].contains(1);
        });
        const QStringList &known = answeredTokensOf[id];
        const bool lastFailed = !known.isEmpty() && reportsSent[known.last()].contains(2);
        if ((delivery == QLatin1String("delivered") && !anyDelivered)
            || (delivery == QLatin1String("not delivered") && !lastFailed))
            return fail(QStringLiteral("SMS %1 stands %2 after %3 copies").arg(id).arg(delivery).arg(copies.size()));
    }
    if (relay.pageLog().text().count(QStringLiteral("Given up sending to")) != givenUp)
        return fail(QStringLiteral("%1 SMS given up, said %2 times")
                        .arg(givenUp)
                        .arg(relay.pageLog().text().count(QStringLiteral("Given up sending to"))));
    for (const Route *each : route) {
        if (each->state() != RouteState::InService && !each->probeScheduled())
            return fail(
                QStringLiteral("route %1 stands %2 without a timer").arg(each->name(), each->status().stateWords()));
    }
    if (mostCycles > 40)
        return fail(QStringLiteral("%1 cycles within 100 ms").arg(mostCycles));
    return true;
}

void tst_routes::randomFaults()
{
    // Seeds from VANTREL_SEEDS ("first:count") for a longer run.
    quint32 first = 1;
    int seeds = 200;
    const QStringList asked = qEnvironmentVariable("VANTREL_SEEDS").split(QLatin1Char(':'));
    if (asked.size() == 2) {
        first = asked[0].toUInt();
        seeds = asked[1].toInt();
    }
    for (quint32 seed = first; seed < first + quint32(seeds); ++seed) {
        QString why;
        const bool held = runSeed(seed, &why);
        QSqlDatabase::removeDatabase(QStringLiteral("locker"));
        QVERIFY2(held, qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(why)));
    }
}

QTEST_GUILESS_MAIN(tst_routes)
#include "tst_routes.moc"
