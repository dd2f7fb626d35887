// Several modems on one desk, each the bundled simulator on its own real
// pseudo-terminal: the load shared, each recipient's SMS in alert order; a
// modem that falls silent or loses its device covered by the other at once,
// set aside and taken back once it answers; a refusal for one number tried
// on the other modem without blaming the first; and the Modems window.

#include "admin/frmModems.h"
#include "app/TahomaFont.h"
#include "store/ModemTable.h"
#include "support/ProgramFolderFixture.h"
#include "support/Readback.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/StartedProgram.h"
#include "support/TestRelay.h"
#include "support/WindowDriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QRegularExpression>
#include <QtTest>

class tst_modems : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TahomaFont::ensure(); }
    void loadShared();
    void failover();
    void refusalOfOneNumber();
    void modemsWindow();
};

namespace {

// The texts each number got, in the order the page log says they went.
QHash<QString, QList<int>> alertsByNumber(const QString &pageLog)
{
    static const QRegularExpression sent(R"(Sending to [^(]*\(([^)]*)\)[^\r\n]*\r\nMessage: Alert (\d+))");
    QHash<QString, QList<int>> order;
    for (auto match = sent.globalMatch(pageLog); match.hasNext();) {
        const QRegularExpressionMatch one = match.next();
        order[one.captured(1)] << one.captured(2).toInt();
    }
    return order;
}

QStringList allTexts(const SimulatedModem &a, const SimulatedModem &b)
{
    QStringList texts;
    for (const SimulatedModem *modem : {&a, &b}) {
        for (const SimulatedModem::Sms &sms : modem->messages())
            texts << sms.number + ' ' + sms.text;
    }
    texts.sort();
    return texts;
}

// A desk of two on-duty users and one folder, with a second modem on COM2.
struct TwoModemDesk {
    explicit TwoModemDesk(const QStringList &first = {"--quiet"}, const QStringList &second = {"--quiet"})
        : a(first, folder.path(), 1)
        , b(second, folder.path(), 2)
    {
        folder.addUser("Ann", "+111", true);
        folder.addUser("Bob", "+222", true);
        mt4 = folder.addWatchedFolder("mt4");
        ModemTable::add(2, "9600");
    }

    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    SimulatedModem a;
    SimulatedModem b;
    QString mt4;
};

} // namespace

void tst_modems::loadShared()
{
    // The same forty SMS, first through one modem, then through two, each
    // answer of each modem taking 50 ms.
    const auto drain = [](bool both) {
        TwoModemDesk desk({"--quiet", "--delay", "50"}, {"--quiet", "--delay", "50"});
        if (!both)
            ModemTable::setInService(2, false);
        TestRelay relay;
        QElapsedTimer clock;
        clock.start();
        writeAlerts(desk.mt4, 1, 20);
        [&] { QVERIFY(relay.waitUntilIdle(60000)); }();
        const qint64 ms = clock.elapsed();
        // Every SMS once, each number's in the order of the alerts.
        QStringList expected;
        for (int i = 1; i <= 20; ++i)
            expected << QStringLiteral("+111 Alert %1").arg(i) << QStringLiteral("+222 Alert %1").arg(i);
        expected.sort();
        [&] { QCOMPARE(allTexts(desk.a, desk.b), expected); }();
        const QHash<QString, QList<int>> order = alertsByNumber(relay.pageLog().text());
        for (const QString number : {"+111", "+222"}) {
            const QList<int> sent = order.value(number);
            [&] {
                QCOMPARE(sent.size(), 20);
                QVERIFY(std::is_sorted(sent.cbegin(), sent.cend()));
            }();
        }
        [&] { QCOMPARE(desk.b.messages().isEmpty(), !both); }();
        // A send says which modem it went by when there are two.
        [&] { QCOMPARE(relay.pageLog().text().contains(" via COM2\r\n"), both); }();
        return ms;
    };
    const qint64 one = drain(false);
    const qint64 two = drain(true);
    QVERIFY2(double(two) <= 0.6 * double(one),
             qPrintable(QStringLiteral("%1 ms with two, %2 with one").arg(two).arg(one)));
}

void tst_modems::failover()
{
    // Health rounds would find the silent modem down as well (tst_health);
    // here the failures alone decide.
    TwoModemDesk desk({"--quiet", "--delay", "20"}, {"--quiet", "--delay", "20"});
    TestRelay relay(300, 60, true, TestRelay::NoHealthRounds);
    relay.setProbeMs(300);
    relay.setRetryDelays({60000, 60000, 60000, 60000});
    QSignalSpy setAside(&relay, &AlertRelay::routeSetAside);

    // COM1 falls silent after its fourth SMS: the one in flight goes by COM2
    // at once, within one time-out, and COM1 is set aside.
    connect(&relay.reporter(), &SmsReporter::smsTried, this, [&] {
        if (desk.a.messages().size() == 4)
            desk.a.control("silent on");
    });
    writeAlerts(desk.mt4, 1, 10);
    QVERIFY(relay.waitUntilIdle(30000));
    relay.reporter().disconnect(this);
    QStringList expected;
    for (int i = 1; i <= 10; ++i)
        expected << QStringLiteral("+111 Alert %1").arg(i) << QStringLiteral("+222 Alert %1").arg(i);
    expected.sort();
    QCOMPARE(allTexts(desk.a, desk.b), expected);
    QCOMPARE(desk.a.messages().size(), 4);
    QCOMPARE(setAside.size(), 1);
    QCOMPARE(setAside.first().first().toString(),
             QString("Modem COM1 set aside: no answer from the modem within 0.3 s"));
    QVERIFY(relay.pageLog().text().contains("Modem COM1 set aside: no answer from the modem within 0.3 s"));
    QCOMPARE(relay.deliveryCounts().retrying, 0);

    // Answering again, it is asked, given the next SMS, and back in service.
    desk.a.control("silent off");
    QTRY_COMPARE(relay.routes().statuses().first().state, RouteState::OnTrial);
    writeAlerts(desk.mt4, 11, 14);
    QVERIFY(relay.waitUntilIdle(30000));
    QVERIFY(relay.pageLog().text().contains("Modem COM1 back in service"));
    QVERIFY(desk.a.messages().size() > 4);

    // COM2's device goes away in the middle of a send: COM1 takes it over,
    // and nothing is lost or doubled but the one in flight.
    connect(&relay.trace(), &QAbstractItemModel::dataChanged, this, [&] {
        if (relay.trace().lines().last().startsWith("COM2: Sending..AT+CMGS"))
            desk.b.control("unplug");
    });
    writeAlerts(desk.mt4, 15, 20);
    QVERIFY(relay.waitUntilIdle(30000));
    relay.trace().disconnect(this);
    QTRY_COMPARE(setAside.size(), 2);
    QVERIFY(setAside.last().first().toString().startsWith("Modem COM2 set aside: "));
    expected.clear();
    for (int i = 1; i <= 20; ++i)
        expected << QStringLiteral("+111 Alert %1").arg(i) << QStringLiteral("+222 Alert %1").arg(i);
    expected.sort();
    QStringList texts = allTexts(desk.a, desk.b);
    QVERIFY(texts.removeDuplicates() <= 1);
    QCOMPARE(texts, expected);
    QCOMPARE(relay.routes().statuses().last().state, RouteState::SetAside);

    // Plugged in again, it comes back as soon as it has sent again.
    QVERIFY(desk.b.control("plug") && desk.b.waitForReady());
    QTRY_VERIFY_WITH_TIMEOUT(relay.routes().statuses().last().state == RouteState::OnTrial, 10000);
    writeAlerts(desk.mt4, 21, 24);
    QVERIFY(relay.waitUntilIdle(30000));
    QVERIFY(relay.pageLog().text().contains("Modem COM2 back in service"));
    for (const RouteStatus &status : relay.routes().statuses())
        QVERIFY(status.state != RouteState::SetAside);
}

void tst_modems::refusalOfOneNumber()
{
    // COM1's network refuses Bob's number as unknown; COM2's takes it. Each
    // of Bob's SMS goes by COM2 at once, and COM1 is never blamed for it.
    TwoModemDesk desk({"--quiet", "--reject", "+222", "--cms-code", "30"}, {"--quiet", "--delay", "20"});
    TestRelay relay(300);
    writeAlerts(desk.mt4, 1, 6);
    QVERIFY(relay.waitUntilIdle(30000));
    QCOMPARE(desk.a.messages().size() + desk.b.messages().size(), 12);
    for (const SimulatedModem::Sms &sms : desk.a.messages())
        QCOMPARE(sms.number, QString("+111"));
    int bobOnB = 0;
    for (const SimulatedModem::Sms &sms : desk.b.messages())
        bobOnB += sms.number == "+222" ? 1 : 0;
    QCOMPARE(bobOnB, 6);
    QVERIFY(!relay.pageLog().text().contains("set aside"));
    QVERIFY(!relay.pageLog().text().contains("Not sent to"));
    QCOMPARE(relay.deliveryCounts().retrying, 0);
}

void tst_modems::modemsWindow()
{
    TwoModemDesk desk;
    StartedProgram program;
    frmModems window(program.relay.routes(), program.window);
    window.show();
    const auto column = [&](int c) { return ::column(window, "ModemList", c); };
    QCOMPARE(column(0), QStringList({"COM1 (COM page)", "COM2"}));
    QCOMPARE(column(2), QStringList({"up", "up"}));
    // The first health round's answers, each under its own heading.
    const QString full = QStringLiteral("-73 dBm ") + QString(4, QChar(0x25AE));
    QTRY_COMPARE(column(3), QStringList({full, full}));
    QCOMPARE(column(4), QStringList({"Vantrel Mobile", "Vantrel Mobile"}));
    QCOMPARE(find<QTableWidget>(window, "ModemList")->horizontalHeaderItem(3)->text(), QString("Signal"));

    // A third modem, taken out of service and back, then removed again.
    find<QComboBox>(window, "cboModemPort")->setEditText("COM7");
    find<QComboBox>(window, "CboModemBaud")->setEditText("19200");
    click(window, "cmdAddModem");
    QCOMPARE(column(0), QStringList({"COM1 (COM page)", "COM2", "COM7"}));
    QCOMPARE(column(1).last(), QString("19200,N,8,1"));
    click(window, "cmdAddModem");
    QCOMPARE(desk.boxes.taken(), QStringList({"Vantrel: The desk has a modem on COM7 already."}));
    auto *grid = find<QTableWidget>(window, "ModemList");
    grid->setCurrentCell(2, 0);
    click(window, "cmdModemService");
    QCOMPARE(column(2).last(), QString("out of service"));
    QCOMPARE(find<QPushButton>(window, "cmdModemService")->text(), QString("Put in service"));
    QCOMPARE(desk.folder.rows("SELECT InService FROM ModemOptions WHERE COM = 7"), QList<QVariantList>({{0}}));
    click(window, "cmdModemService");
    QCOMPARE(column(2).last(), QString("up"));
    desk.boxes.answer(MessageBoxes::Yes);
    click(window, "cmdRemoveModem");
    QCOMPARE(column(0), QStringList({"COM1 (COM page)", "COM2"}));
    QCOMPARE(desk.folder.values("SELECT COM FROM Modems"), QStringList({"2"}));
    desk.boxes.taken();

    // A PIN is digits; the heartbeat a time of day. Both are stored.
    grid->setCurrentCell(1, 0);
    type(window, "txtModemPin", "12");
    click(window, "cmdSetModemPin");
    QCOMPARE(desk.boxes.taken(), QStringList({"Vantrel: Please choose a modem and enter a PIN of 4 to 8 digits."}));
    type(window, "txtModemPin", "1234");
    click(window, "cmdSetModemPin");
    QCOMPARE(desk.folder.values("SELECT Pin FROM ModemOptions WHERE COM = 2"), QStringList({"1234"}));
    type(window, "txtHeartbeat", "25:00");
    click(window, "cmdSetHeartbeat");
    QCOMPARE(desk.boxes.taken(),
             QStringList({"Vantrel: Please enter the time as HH:MM, or nothing for no heartbeat."}));
    type(window, "txtHeartbeat", "08:30");
    click(window, "cmdSetHeartbeat");
    QCOMPARE(desk.folder.values("SELECT Value FROM DeskOptions WHERE Name = 'Heartbeat'"), QStringList({"08:30"}));
    QCOMPARE(program.relay.heartbeatTime(), QTime(8, 30));
    // Delivery reports: off on a desk without the setting, stored when ticked.
    QVERIFY(!find<QCheckBox>(window, "chkDeliveryReports")->isChecked());
    find<QCheckBox>(window, "chkDeliveryReports")->click();
    QCOMPARE(desk.folder.values("SELECT Value FROM DeskOptions WHERE Name = 'DeliveryReports'"), QStringList({"on"}));
    QVERIFY(program.relay.deliveryReports());
    // The gateway: an address without its user is refused, one with it kept.
    find<QCheckBox>(window, "chkGatewayOnly")->click();
    QCOMPARE(desk.boxes.taken(), QStringList({"Vantrel: Please set the gateway first."}));
    QVERIFY(!find<QCheckBox>(window, "chkGatewayOnly")->isChecked());
    type(window, "txtGateway", "http://127.0.0.1:13013/cgi-bin/sendsms");
    click(window, "cmdSetGateway");
    QCOMPARE(desk.boxes.taken(),
             QStringList({"Vantrel: The gateway address lacks the sendsms user: ...?username=U&password=P"}));
    type(window, "txtGateway", "http://127.0.0.1:13013/cgi-bin/sendsms?username=u&password=p");
    click(window, "cmdSetGateway");
    QVERIFY(program.relay.routes().gatewayStatus());
    QVERIFY(find<QLabel>(window, "lblGatewayState")->text().startsWith("Gateway in service"));
    type(window, "txtGateway", "");
    click(window, "cmdSetGateway");
    QVERIFY(!program.relay.routes().gatewayStatus());
    QCOMPARE(find<QLabel>(window, "lblGatewayState")->text(), QString("No gateway."));

    // The Com row's modem is the COM page's: it cannot be removed here. The
    // test asks the modem on its own engine.
    grid->setCurrentCell(0, 0);
    QVERIFY(!find(window, "cmdRemoveModem")->isEnabled());
    QVERIFY(find(window, "cmdTestOneModem")->isEnabled());
    click(window, "cmdTestOneModem");
    QTRY_VERIFY(!desk.boxes.shown.isEmpty());
    QCOMPARE(desk.boxes.taken(), QStringList({"Vantrel: Modem Test is OK"}));
}

QTEST_MAIN(tst_modems)
#include "tst_modems.moc"
