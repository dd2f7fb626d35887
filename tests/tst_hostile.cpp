// Rows and files that must not silence the relay: users without a name or a
// number, numbers that would smuggle commands to the modem, a damaged
// outbox, and every column of Config.mdb filled with values no one meant to
// store. Each costs at most its own SMS and is said plainly.

#include "store/Database.h"
#include "store/MSComm.h"
#include "store/UpdateCom.h"
#include "support/ProgramFolderFixture.h"
#include "support/Readback.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>
#include <functional>

class tst_hostile : public QObject
{
    Q_OBJECT

private slots:
    void badUsersCostOnlyTheirOwnSms();
    void damagedOutboxIsSetAside();
    void hostileConfigValues_data();
    void hostileConfigValues();
};

namespace {

const QString Injection = QStringLiteral("+1555\"\r\nAT+CFUN=0\r\n");

// The numbers the modem was asked to send to, as the dialogue shows them.
QStringList numbersOnTheLine(const SimulatedModem &modem)
{
    static const QRegularExpression cmgs(QStringLiteral(R"(AT\+CMGS=([^ ]*)  ->)"));
    QStringList numbers;
    for (auto match = cmgs.globalMatch(modem.log()); match.hasNext();)
        numbers << match.next().captured(1);
    return numbers;
}

// Outbox.db in the program folder.
QString outboxFile(const ProgramFolderFixture &folder)
{
    return folder.file(QStringLiteral("Outbox.db"));
}

QStringList setAsideFiles(const ProgramFolderFixture &folder)
{
    return QDir(folder.path()).entryList({QStringLiteral("Outbox.db.damaged-*")}, QDir::Files, QDir::Name);
}

} // namespace

void tst_hostile::badUsersCostOnlyTheirOwnSms()
{
    ProgramFolderFixture folder;
    const auto user = [&](const QVariant &name, const QVariant &number) {
        folder.exec("INSERT INTO USERS (name, Phone_No, On_Duty) VALUES (?, ?, 1)", {name, number});
    };
    user(QVariant(), "+15550001");         // filled in by number only
    user("Bob", QVariant());               // no number
    user("Eve", Injection);                // a number that would end the command
    user("Dan", "+1 (555) 010-0200");      // as people write numbers
    user("Fay", QString(300, QChar('5'))); // more digits than any number
    user("Ann", "+15550002");
    const QString mt4 = folder.addWatchedFolder("mt4");
    // The modem logs every command, so that what reached it can be read.
    SimulatedModem modem({"--split-rate", "0.3", "--seed", "4"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    writeAlerts(mt4, 1, 3);

    TestRelay relay;
    QVERIFY(relay.waitUntilIdle(30000));

    // Every alert reaches every phone number there is, in the outbox and on
    // the air; the spaced one as digits.
    QStringList numbers;
    for (const SimulatedModem::Sms &sms : modem.messages())
        numbers << sms.number;
    QCOMPARE(numbers.count("+15550001"), 3);
    QCOMPARE(numbers.count("+15550100200"), 3);
    QCOMPARE(numbers.count("+15550002"), 3);
    QCOMPARE(numbers.size(), 9);
    QCOMPARE(folder.loggedMessages().size(), 3);
    // Nothing but digits and a leading "+" reached the modem from a number.
    const QStringList asked = numbersOnTheLine(modem);
    QCOMPARE(asked.size(), 9);
    for (const QString &number : asked)
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^"\+?[0-9]+"$)")).match(number).hasMatch(), qPrintable(number));

    // The row without a name is sent under its number; each row without a
    // phone number is said once per alert and counted as given up.
    const QString log = relay.pageLog().text();
    QCOMPARE(log.count("Sending to +15550001 (+15550001)"), 3);
    QCOMPARE(log.count("Sending to Dan (+15550100200)"), 3);
    QCOMPARE(log.count("Not sent to Bob (): not a phone number"), 3);
    const QString eve =
        "Not sent to Eve (+1555\"" + QString(2, '?') + "AT+CFUN=0" + QString(2, '?') + "): not a phone number";
    QCOMPARE(log.count(eve), 3);
    QCOMPARE(log.count("Not sent to Fay (" + QString(40, QChar('5')) + "...): not a phone number"), 3);
    QCOMPARE(log.count("not a phone number"), 9);
    QVERIFY(!log.contains("NOT NULL"));
    QVERIFY(fileBytes(folder.file("ALARM1.csv")).contains("+15550001 (+15550001)*** "));
    QCOMPARE(relay.deliveryCounts().givenUp, 9);
    QCOMPARE(relay.deliveryCounts().retrying, 0);

    // The Test Message page's number goes the same way: typed text never
    // reaches the modem as a command.
    relay.SendAlarm("x", "TEST", Injection);
    QTRY_VERIFY(relay.pageLog().text().contains(QString(eve).replace("Eve", "TEST")));
    relay.SendAlarm("y", "TEST", " +1 555.010.0300 ");
    QTRY_VERIFY(relay.pageLog().text().contains("Sending to TEST (+15550100300)"));
    QCOMPARE(numbersOnTheLine(modem).size(), 10);
}

void tst_hostile::damagedOutboxIsSetAside()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "+111", true);
    const QString mt4 = folder.addWatchedFolder("mt4");

    // Random bytes behind a good header: the outbox is set aside at start
    // and said; nothing of it is deleted, and the next alert goes out.
    QByteArray noise = "SQLite format 3";
    noise += '\0';
    for (int i = 0; i < 8192; ++i)
        noise += char(QRandomGenerator::global()->bounded(256));
    writeFile(outboxFile(folder), noise);
    {
        SimulatedModem modem({"--quiet"}, folder.path(), 1);
        QVERIFY(modem.isReady());
        TestRelay relay(1500, 60, false);
        QCOMPARE(setAsideFiles(folder).size(), 1);
        const QString name = setAsideFiles(folder).first();
        QVERIFY(QRegularExpression(R"(^Outbox\.db\.damaged-\d{8}-\d{6}$)").match(name).hasMatch());
        QCOMPARE(fileBytes(folder.file(name)), noise);
        QVERIFY(relay.pageLog().text().contains("The outbox was damaged and has been set aside as " + name
                                                + "; 0 alerts waiting in it were carried over."));
        writeAlerts(mt4, 1, 1);
        relay.cycle();
        QCOMPARE(sentTexts(modem), QStringList({"Alert 1"}));
    }

    // A disk fault in the middle of a run, while SMS wait for the modem,
    // which is away: set aside at the next cycle, what can still be read
    // carried over, and the next alert relayed within one cycle once the
    // modem is back; nothing carried over is sent twice.
    int carried = -1;
    const auto faultWhileWaiting = [&](int port, int firstAlert, const std::function<void()> &fault) {
        folder.exec("UPDATE Com SET COM = ?", {port});
        TestRelay relay(1500, 60, false);
        relay.setRetryDelays({300, 300, 300, 300});
        QSignalSpy balloons(&relay, &AlertRelay::outboxSetAside);
        writeAlerts(mt4, firstAlert, firstAlert + 29);
        relay.cycle();
        QVERIFY(relay.deliveryCounts().retrying > 0);
        const int files = int(setAsideFiles(folder).size());
        // The journal as a crash would leave it on disk: all in the file.
        folder.execOutbox("PRAGMA wal_checkpoint(TRUNCATE)");
        fault();
        relay.cycle();
        QCOMPARE(setAsideFiles(folder).size(), files + 1);
        QCOMPARE(balloons.size(), 1);
        const QRegularExpressionMatch said =
            QRegularExpression(R"(as Outbox\.db\.damaged-[-0-9]+; (\d+) alerts waiting in it were carried over\.$)")
                .match(balloons.first().first().toString());
        QVERIFY(said.hasMatch());
        SimulatedModem modem({"--quiet"}, folder.path(), port);
        QVERIFY(modem.isReady());
        writeAlerts(mt4, 99, 99, "Next");
        relay.cycle();
        QVERIFY(sentTexts(modem).contains("Next 99"));
        relay.start();
        QVERIFY(relay.waitUntilIdle(30000));
        QStringList texts = sentTexts(modem);
        QCOMPARE(texts.size(), said.captured(1).toInt() + 1);
        QCOMPARE(texts.removeDuplicates(), 0);
        carried = said.captured(1).toInt();
    };
    // Half of the file gone: whatever pages are left.
    faultWhileWaiting(2, 2,
                      [&] { QVERIFY(QFile::resize(outboxFile(folder), QFileInfo(outboxFile(folder)).size() / 2)); });
    QVERIFY(carried >= 0);
    // One index page overwritten: every waiting alert is still there.
    faultWhileWaiting(3, 40, [&] {
        const int page = folder.outboxRows("SELECT rootpage FROM sqlite_master WHERE name = 'alert_first_tries'")
                             .first()
                             .first()
                             .toInt();
        QFile file(outboxFile(folder));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(qint64(page - 1) * 4096));
        file.write(QByteArray(4096, '\x55'));
    });
    QCOMPARE(carried, 30);
}

void tst_hostile::hostileConfigValues_data()
{
    // Each column the program reads, filled with each kind of value no one
    // meant to store; `said` is the page log line it earns (empty: none,
    // the value is harmless as it stands).
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("said");
    const QString huge(100000, QChar('7'));
    const QString control = QStringLiteral("a\r\nb\x01\x1b");
    struct Column {
        const char *table;
        const char *column;
        QVariant outOfRange;
        QString said; // for a value that cannot serve
    };
    const QList<Column> columns = {
        {"USERS", "name", 99999, {}},
        {"USERS", "Phone_No", -5, {}},
        {"USERS", "On_Duty", 99999, "which is neither yes nor no"},
        {"Mt4Path", "MT4_PATH", 99999, "is skipped"},
        {"Com", "COM", 99999, "The port setting COM"},
        {"Com", "Buad", -9600, "The port setting Buad"},
        {"Com", "DataBits", 9, "The port setting DataBits"},
        {"Com", "Parity", 7, "The port setting Parity"},
        {"Com", "StopBit", 3, "The port setting StopBit"},
        {"Com", "FlowControl", 99999, {}},
        {"Account", "UserName", 99999, {}},
        {"Account", "Password", 99999, {}},
        {"Account", "Rank", 99999, {}},
        {"AlertCodePage", "CodePage", 99999, "is not known here"},
    };
    for (const Column &c : columns) {
        const QString name = QStringLiteral("%1.%2 ").arg(QLatin1String(c.table), QLatin1String(c.column));
        const QList<std::pair<QString, QVariant>> values = {
            {"null", QVariant()},           {"empty", QStringLiteral("")}, {"text", QStringLiteral("abc")},
            {"out of range", c.outOfRange}, {"100,000 characters", huge},  {"control bytes", control},
        };
        for (const auto &[kind, value] : values) {
            QString said = c.said;
            const QString column = QLatin1String(c.column);
            // Values that serve as they are.
            if ((column == "On_Duty" && (kind == "null" || kind == "empty" || kind == "out of range"))
                || (column == "MT4_PATH" && (kind == "text" || kind == "out of range"))
                || (column == "CodePage" && (kind == "null" || kind == "empty")))
                said.clear();
            if (column == "name" && kind == "100,000 characters")
                said = "has a name of 100000 characters";
            QTest::newRow(qPrintable(name + kind)) << QString::fromLatin1(c.table) << column << value << said;
        }
    }
}

void tst_hostile::hostileConfigValues()
{
    QFETCH(QString, table);
    QFETCH(QString, column);
    QFETCH(QVariant, value);
    QFETCH(QString, said);

    ProgramFolderFixture folder({}, {{"Ann", "pw", 1}});
    ScriptedMessageBoxes boxes;
    folder.exec("INSERT INTO USERS (name, Phone_No, On_Duty) VALUES ('Ann', '+15550001', 1)");
    folder.addWatchedFolder("mt4");
    if (table == "AlertCodePage")
        folder.exec("CREATE TABLE AlertCodePage (CodePage TEXT)");
    if (table == "AlertCodePage")
        folder.exec("INSERT INTO AlertCodePage (CodePage) VALUES (?)", {value});
    else
        folder.exec(QStringLiteral("UPDATE %1 SET %2 = ?").arg(table, column), {value});

    if (table == "Account") {
        // A login with such a row is refused, in words or with the error,
        // but never admitted and never a crash.
        short rank = 0;
        try {
            rank = UpdateCom::CheckLogin("Ann", "pw");
        } catch (const DbError &error) {
            QVERIFY(!error.text().isEmpty());
        }
        QVERIFY(rank != 1 && rank != 2);
        return;
    }

    // The relay loads; a bad row is skipped or a bad setting replaced, with
    // one line; the good user is still there to be sent to.
    TestRelay relay(1500, 60, false);
    const QString log = relay.pageLog().text();
    if (said.isEmpty())
        QVERIFY2(log.isEmpty(), qPrintable(log.left(300)));
    else
        QVERIFY2(log.count(said) == 1 && log.count("\r\n") == 1, qPrintable(log.left(300)));
    QVERIFY(log.size() < 1000);
    if (table == "Com") {
        const PortSettings current = relay.comSettings();
        QVERIFY(current.ComPort() >= 1);
        QVERIFY(MSComm::devicePath(current.ComPort()).size() < 100);
        MSComm port;
        port.setSettings(current.SettingsString());
    }
    if (table == "USERS") {
        const QList<Recipients::Recipient> onDuty = relay.recipients().onDuty();
        const bool off = column == "On_Duty" && value.toString() != "99999";
        QCOMPARE(onDuty.size(), off ? 0 : 1);
        if (!off) {
            QVERIFY(!onDuty.first().name.isEmpty() && onDuty.first().name.size() <= 103);
            QVERIFY(!onDuty.first().name.contains('\r') && !onDuty.first().stored.contains('\n'));
            QCOMPARE(onDuty.first().sendable(), column != "Phone_No");
        }
    }
}

QTEST_MAIN(tst_hostile)
#include "tst_hostile.moc"
