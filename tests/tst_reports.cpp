// Delivery reports against the simulator on real pseudo-terminals: reports
// that say delivered, not delivered and nothing at all; a long SMS whose
// parts report one by one; 300 SMS, so that the modem's message reference
// wraps, with the reports crossing each other; a report that arrives between
// the prompt and the text of the next SMS; a modem that only stores its
// reports, and one that keeps them whatever it is told; two modems that give
// the same references; and the relay killed between a send and its report.

#include "pickup/AlertFile.h"
#include "store/DeskOptions.h"
#include "store/ModemTable.h"
#include "store/Outbox.h"
#include "support/ProgramFolderFixture.h"
#include "support/Readback.h"
#include "support/RelayHost.h"
#include "support/RunUntil.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestClock.h"
#include "support/TestRelay.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <csignal>

class tst_reports : public QObject
{
    Q_OBJECT

private slots:
    void earlyAndSupersededReports();
    void deliveredNotDeliveredAndMissing();
    void aLongSmsIsDeliveredWhenAllItsPartsAre();
    void referencesWrapAndReportsCross();
    void aReportBetweenPromptAndText();
    void reportsTheModemStores();
    void twoModemsGiveTheSameReferences();
    void aNetworkFailureGoesOnceMoreByTheOtherModem();
    void aReportAfterAKillStillPairs();
};

namespace {

// Names and numbers of on-duty users.
using Users = QList<std::pair<QString, QString>>;

// A desk with delivery reports on: its on-duty users, a watched folder,
// and its modems on COM1, COM2 ...
struct ReportsDesk {
    explicit ReportsDesk(const Users &users, int modems = 1)
    {
        for (const auto &[name, number] : users)
            folder.addUser(name, number, true);
        mt4 = folder.addWatchedFolder("mt4");
        DeskOptions::setValue(DeskOptions::DeliveryReports, "on");
        for (int port = 2; port <= modems; ++port)
            ModemTable::add(short(port), "9600");
    }

    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    QString mt4;
};

// Where the delivery of each SMS stands, as "NUMBER state", in the order sent.
QStringList deliveries(const ProgramFolderFixture &folder)
{
    QStringList states;
    for (const QVariantList &row :
         folder.outboxRows("SELECT s.number, d.state FROM delivery d JOIN sms s ON s.id = d.sms_id ORDER BY d.sms_id"))
        states << row[0].toString() + ' ' + row[1].toString();
    return states;
}

// Every daily page log file, whatever day a line went to.
QString dailyFiles(const ProgramFolderFixture &folder)
{
    QString text;
    const QDir logs(folder.file("Logs"));
    for (const QString &name : logs.entryList({"PageLog-*.txt"}, QDir::Files, QDir::Name))
        text += QString::fromUtf8(fileBytes(logs.filePath(name)));
    return text;
}

int count(const ProgramFolderFixture &folder, const QString &sql)
{
    return folder.outboxRows(sql).value(0).value(0).toInt();
}

// Counts the trace lines that hold `text` from now on, however many the
// trace keeps.
class TraceCounter
{
public:
    TraceCounter(TraceList &trace, const QString &text)
    {
        QObject::connect(&trace, &QAbstractItemModel::dataChanged, &m_context, [this, &trace, text] {
            if (trace.lines().last().contains(text))
                ++m_count;
        });
    }
    int count() const { return m_count; }

private:
    QObject m_context;
    int m_count = 0;
};

} // namespace

void tst_reports::deliveredNotDeliveredAndMissing()
{
    TestClock clock(QDateTime::currentDateTimeUtc());
    ReportsDesk desk({{"Ann", "+111"}, {"Bob", "+222"}, {"Cy", "+333"}});
    const ProgramFolderFixture &folder = desk.folder;
    const QString &mt4 = desk.mt4;
    SimulatedModem modem({"--report-fail", "+222:65", "--report-silent", "+333"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestRelay relay(300);
    relay.reports().setLookMs(50);
    QSignalSpy balloons(&relay, &AlertRelay::notDelivered);

    writeAlerts(mt4, 1, 1);
    QTRY_VERIFY(relay.pageLog().text().contains("Delivered to Ann (+111) at "));
    QTRY_VERIFY(relay.pageLog().text().contains("Not delivered to Bob (+222): incompatible destination"));
    QCOMPARE(balloons.size(), 1);
    QCOMPARE(balloons[0], QVariantList({"Bob", "+222", "incompatible destination"}));
    QCOMPARE(relay.deliveryCounts().notDelivered, 1);
    QCOMPARE(deliveries(folder), QStringList({"+111 delivered", "+222 not delivered", "+333 unconfirmed"}));
    // Each SMS asked for its report; the modem was told to pass them on.
    QCOMPARE(modem.log().count("AT+CSMP=49,167,0,0"), 3);
    QVERIFY(modem.log().contains("AT+CNMI=2,0,0,1,0"));
    // With one modem, nothing is sent again.
    QCOMPARE(modem.messages().size(), 3);

    // Said in the daily file as in the window.
    QVERIFY(dailyFiles(folder).contains("Not delivered to Bob (+222)"));

    // Cy's phone never says: after 15 minutes the page log does, once.
    runUntil([] { return false; }, 200);
    QVERIFY(!relay.pageLog().text().contains("No delivery report"));
    clock.set(clock.now().addSecs(16 * 60));
    QTRY_VERIFY(relay.pageLog().text().contains("No delivery report from Cy (+333) within 15 minutes"));
    runUntil([] { return false; }, 200);
    QCOMPARE(relay.pageLog().text().count("No delivery report"), 1);
    relay.statusFile().write();
    const QJsonObject status = QJsonDocument::fromJson(fileBytes(folder.file("Status.json"))).object();
    QCOMPARE(status["unconfirmed"].toInt(), 1);
    QCOMPARE(status["not_delivered_24h"].toInt(), 1);

    // Reports off: the dialogue is the one without them.
    relay.setDeliveryReports(false);
    QCOMPARE(DeskOptions::value(DeskOptions::DeliveryReports), QString("off"));
    writeAlerts(mt4, 2, 2);
    QTRY_COMPARE(modem.messages().size(), 6);
    QVERIFY(relay.waitUntilIdle());
    QCOMPARE(modem.log().count("AT+CSMP"), 3);
    QCOMPARE(count(folder, "SELECT count(*) FROM delivery"), 3);
}

void tst_reports::aLongSmsIsDeliveredWhenAllItsPartsAre()
{
    ReportsDesk desk(Users{{"Ann", "+15550100"}});
    const ProgramFolderFixture &folder = desk.folder;
    const QString &mt4 = desk.mt4;
    // The reports held back, to be handed in one by one.
    SimulatedModem modem({"--quiet", "--report-delay", "600000"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestRelay relay(300);
    TraceCounter unmatched(relay.trace(), "matched no SMS");
    writeFile(MT4Paths::alertFile(mt4), "L|10:00|EA1|Title|" + QByteArray(400, 'x') + "\r\n");
    QTRY_COMPARE(modem.messages().size(), 1);
    QCOMPARE(modem.messages()[0].parts, 3);
    QTRY_COMPARE(deliveries(folder), QStringList({"+15550100 unconfirmed"}));
    const QList<QVariantList> parts = folder.outboxRows("SELECT reference FROM sms_part ORDER BY id");
    QCOMPARE(parts.size(), 3);

    // As a modem in text mode writes them: the number without its country
    // code, the last part first.
    const auto report = [&](const QVariant &reference) {
        relay.reports().heard(&relay.modem(),
                              "+CDS: 6," + reference.toString()
                                  + ",\"5550100\",129,\"26/12/09,10:00:00+04\",\"26/12/09,10:00:05+04\",0",
                              {});
    };
    report(parts[2][0]);
    report(parts[0][0]);
    QCOMPARE(deliveries(folder), QStringList({"+15550100 unconfirmed"}));
    QVERIFY(!relay.pageLog().text().contains("Delivered to"));
    // The same report twice counts once.
    report(parts[0][0]);
    QCOMPARE(unmatched.count(), 1);
    report(parts[1][0]);
    QCOMPARE(deliveries(folder), QStringList({"+15550100 delivered"}));
    QCOMPARE(relay.pageLog().text().count("Delivered to Ann (+15550100) at "), 1);
    // The phone's time of delivery, 10:00:05 at +1 hour.
    QCOMPARE(folder.outboxRows("SELECT delivered_at FROM delivery")[0][0].toLongLong(),
             QDateTime(QDate(2026, 12, 9), QTime(9, 0, 5), Qt::UTC).toMSecsSinceEpoch());
}

void tst_reports::earlyAndSupersededReports()
{
    // Part 1's report comes while parts 2 and 3 are still on their way: it
    // is held and paired once the SMS is recorded, so the SMS ends delivered.
    {
        ReportsDesk desk(Users{{"Ann", "+15550100"}});
        SimulatedModem modem({"--quiet", "--delay", "150", "--report-delay", "20"}, desk.folder.path(), 1);
        QVERIFY(modem.isReady());
        TestRelay relay(3000);
        relay.reports().setLookMs(50);
        writeFile(MT4Paths::alertFile(desk.mt4), "L|10:00|EA1|Title|" + QByteArray(400, 'x') + "\r\n");
        QTRY_COMPARE(modem.messages().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(deliveries(desk.folder), QStringList({"+15550100 delivered"}), 10000);
        QCOMPARE(relay.pageLog().text().count("Delivered to Ann (+15550100) at "), 1);
    }

    // A report for a copy that a later try stands for (its answer was lost,
    // it went again) never settles the SMS: a failure of the old copy leaves
    // the new one unconfirmed, the new one's own report settles it.
    ProgramFolderFixture folder;
    TestClock clock(QDateTime::currentDateTimeUtc());
    Outbox outbox;
    const QString mt4 = folder.addWatchedFolder("mt4");
    writeFile(MT4Paths::alertFile(mt4), "L|10:00|EA1|Title|Gold\r\n");
    Outbox::FileId id;
    bool plain = false;
    QVERIFY(AlertFile::identify(MT4Paths::alertFile(mt4), id, plain));
    outbox.commitAlerts(mt4, MT4Paths::alertFile(mt4), id, 20, {{{"L", "10:00", "EA1", "Title", "Gold"}, "Gold"}});
    const Outbox::Alert alert = outbox.firstTries(mt4, 1).first();
    outbox.beginDispatch(alert.id, {{"Ann", "+111", {}}});
    const qint64 sms = outbox.dueSms(alert.id, Clock::nowUtc()).first().id;
    outbox.recordSent(sms, "COM1", {"5"});
    outbox.recordSent(sms, "COM1", {"6"});
    const std::optional<Outbox::Reported> old = outbox.pairReport("COM1", "5", "+111", {}, clock.now().addDays(-3));
    QVERIFY(old);
    QVERIFY(!outbox.settlePart(old->partId, 0x41, "incompatible destination", {}).changed);
    QCOMPARE(deliveries(folder), QStringList({"+111 unconfirmed"}));
    const std::optional<Outbox::Reported> current = outbox.pairReport("COM1", "6", "+111", {}, clock.now().addDays(-3));
    QVERIFY(current);
    QVERIFY(outbox.settlePart(current->partId, 0, {}, {}).changed);
    QCOMPARE(deliveries(folder), QStringList({"+111 delivered"}));
    // A report pairs only with an SMS of the last days.
    QVERIFY(!outbox.pairReport("COM1", "6", "+111", {}, clock.now().addSecs(60)));
}

void tst_reports::referencesWrapAndReportsCross()
{
    // 100 alerts to three users: 300 SMS, so the 8-bit reference comes
    // round again while the reports of the first round are still on their
    // way, in any order. Cy's all fail; if a report went to the wrong SMS,
    // Cy's would not be exactly the ones not delivered.
    ReportsDesk desk({{"Ann", "+111000"}, {"Bob", "+222000"}, {"Cy", "+333000"}});
    const ProgramFolderFixture &folder = desk.folder;
    const QString &mt4 = desk.mt4;
    SimulatedModem modem({"--quiet", "--report-jitter", "3000", "--report-fail", "+333000:65"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestRelay relay(300);
    TraceCounter unmatched(relay.trace(), "matched no SMS");
    writeAlerts(mt4, 1, 100);
    QVERIFY(runUntil([&] { return count(folder, "SELECT count(*) FROM delivery WHERE state <> 'unconfirmed'") == 300; },
                     60000));
    QCOMPARE(modem.messages().size(), 300);
    QVERIFY(count(folder, "SELECT count(DISTINCT reference) FROM sms_part") < 256);
    QCOMPARE(count(folder, "SELECT count(*) FROM delivery d JOIN sms s ON s.id = d.sms_id WHERE "
                           "(s.number = '+333000') <> (d.state = 'not delivered')"),
             0);
    QCOMPARE(unmatched.count(), 0);
    QCOMPARE(relay.pageLog().text().count("Delivered to "), 200);
    QCOMPARE(relay.pageLog().text().count("Not delivered to Cy (+333000)"), 100);
    QCOMPARE(relay.deliveryCounts().notDelivered, 100);
}

void tst_reports::aReportBetweenPromptAndText()
{
    ReportsDesk desk(Users{{"Ann", "+111"}});
    const ProgramFolderFixture &folder = desk.folder;
    const QString &mt4 = desk.mt4;
    SimulatedModem modem({"--report-mid-dialogue"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestRelay relay(300);
    TraceCounter unmatched(relay.trace(), "matched no SMS");
    // Text mode, then PDU mode: each report comes right after the next "> ".
    const auto held = [&](int reports) {
        return runUntil([&] { return modem.log().count("held for the next prompt") == reports; }, 5000);
    };
    writeAlerts(mt4, 1, 1);
    QVERIFY(held(1));
    writeFile(MT4Paths::alertFile(mt4), "L|10:00|EA2|Title|Цена 1.0850\r\n");
    QVERIFY(held(2));
    writeAlerts(mt4, 3, 3);
    QVERIFY(held(3));
    QVERIFY(relay.waitUntilIdle());
    QCOMPARE(modem.messages().size(), 3);
    QCOMPARE(modem.messages()[1].text, QString("Цена 1.0850"));
    QVERIFY(!relay.pageLog().text().contains("Not sent"));
    QTRY_COMPARE(deliveries(folder), QStringList({"+111 delivered", "+111 delivered", "+111 unconfirmed"}));
    QCOMPARE(unmatched.count(), 0);
}

void tst_reports::reportsTheModemStores()
{
    // COM1 takes only <ds> 2: its reports are stored and announced with
    // "+CDSI". COM2 keeps them whatever it is told: the rounds read them.
    ReportsDesk desk({{"Ann", "+111"}, {"Bob", "+222"}}, 2);
    const ProgramFolderFixture &folder = desk.folder;
    const QString &mt4 = desk.mt4;
    SimulatedModem storing({"--stored-reports-only"}, folder.path(), 1);
    SimulatedModem keeping({"--keep-reports"}, folder.path(), 2);
    QVERIFY(storing.isReady() && keeping.isReady());
    TestRelay relay(300);
    relay.setHealthRoundMs(300);
    writeAlerts(mt4, 1, 6);
    QTRY_COMPARE_WITH_TIMEOUT(count(folder, "SELECT count(*) FROM delivery WHERE state = 'delivered'"), 12, 15000);
    QVERIFY(storing.log().contains("AT+CNMI=2,0,0,2,0"));
    QVERIFY(storing.log().contains("+CDSI: \"SR\","));
    // Both modems had some, and each report was deleted once read.
    for (const SimulatedModem *modem : {&storing, &keeping}) {
        QVERIFY(!modem->messages().isEmpty());
        QTRY_COMPARE(modem->log().count(QRegularExpression("AT\\+CMGD=\\d+")), modem->messages().size());
    }
    QCOMPARE(relay.pageLog().text().count("Delivered to "), 12);
}

void tst_reports::twoModemsGiveTheSameReferences()
{
    ReportsDesk desk({{"Ann", "+111"}, {"Bob", "+222"}}, 2);
    const ProgramFolderFixture &folder = desk.folder;
    const QString &mt4 = desk.mt4;
    SimulatedModem a({"--quiet", "--report-jitter", "500"}, folder.path(), 1);
    SimulatedModem b({"--quiet", "--report-jitter", "500", "--report-fail", "+222:65"}, folder.path(), 2);
    QVERIFY(a.isReady() && b.isReady());
    TestRelay relay(300);
    TraceCounter unmatched(relay.trace(), "matched no SMS");
    writeAlerts(mt4, 1, 10);
    QTRY_COMPARE_WITH_TIMEOUT(count(folder, "SELECT count(*) FROM delivery WHERE state <> 'unconfirmed'"), 20, 15000);
    // The same references came from both, and each report went to its own
    // modem's SMS: those that failed are exactly Bob's sent by COM2.
    QVERIFY(count(folder, "SELECT count(*) FROM sms_part p JOIN sms_part q ON p.reference = q.reference "
                          "AND p.route = 'COM1' AND q.route = 'COM2'")
            > 0);
    QCOMPARE(count(folder, "SELECT count(*) FROM sms_part p JOIN sms s ON s.id = p.sms_id JOIN delivery d ON "
                           "d.sms_id = s.id WHERE (p.route = 'COM2' AND s.number = '+222') <> "
                           "(d.state = 'not delivered')"),
             0);
    QCOMPARE(unmatched.count(), 0);
}

void tst_reports::aNetworkFailureGoesOnceMoreByTheOtherModem()
{
    // Both networks fail it with a remote procedure error, which another
    // network might not have had: sent once more, by the other modem, and
    // then no more.
    ReportsDesk desk(Users{{"Ann", "+111"}}, 2);
    const ProgramFolderFixture &folder = desk.folder;
    const QString &mt4 = desk.mt4;
    SimulatedModem a({"--quiet", "--report-fail", "+111:64"}, folder.path(), 1);
    SimulatedModem b({"--quiet", "--report-fail", "+111:64"}, folder.path(), 2);
    QVERIFY(a.isReady() && b.isReady());
    TestRelay relay(300);
    writeAlerts(mt4, 1, 1);
    QTRY_COMPARE(relay.pageLog().text().count("Not delivered to Ann (+111): remote procedure error"), 2);
    QCOMPARE(relay.pageLog().text().count("; sent once more by another modem"), 1);
    QCOMPARE(a.messages().size(), 1);
    QCOMPARE(b.messages().size(), 1);
    QCOMPARE(deliveries(folder), QStringList({"+111 not delivered"}));
    runUntil([] { return false; }, 300);
    QCOMPARE(a.messages().size() + b.messages().size(), 2);
    // One alert, one LOG row, whatever became of its SMS afterwards.
    QCOMPARE(folder.loggedMessages().size(), 1);
}

void tst_reports::aReportAfterAKillStillPairs()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    DeskOptions::setValue(DeskOptions::DeliveryReports, "on");
    SimulatedModem modem({"--quiet", "--report-delay", "2500"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    {
        QProcess host;
        QVERIFY(startRelayHost(host, folder.path()));
        writeAlerts(mt4, 1, 1);
        // Killed once the send is in the outbox, before its report.
        QVERIFY(runUntil([&] { return modem.messages().size() == 1; }, 10000));
        QVERIFY(runUntil([&] { return count(folder, "SELECT count(*) FROM delivery") == 1; }, 10000));
        ::kill(pid_t(host.processId()), SIGKILL);
        QVERIFY(host.waitForFinished());
    }
    QCOMPARE(deliveries(folder), QStringList({"+111 unconfirmed"}));
    QProcess host;
    QVERIFY(startRelayHost(host, folder.path()));
    QVERIFY(runUntil([&] { return deliveries(folder) == QStringList({"+111 delivered"}); }, 10000));
    QVERIFY(dailyFiles(folder).contains("Delivered to Ann (+111) at "));
    QCOMPARE(modem.messages().size(), 1);
    host.terminate();
    QVERIFY(host.waitForFinished());
}

QTEST_GUILESS_MAIN(tst_reports)
#include "tst_reports.moc"
