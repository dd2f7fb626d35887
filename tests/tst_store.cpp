// The configuration store against a real Config.mdb: reading and appending
// rows, the case rules, the user update's lookup, the port settings record,
// the errors of a missing table or Com row, and the setup tool. (Removing
// rows: tst_settings; a missing Config.mdb or Com row at start: tst_login.)

#include "modem/Recipients.h"
#include "pickup/MT4Paths.h"
#include "store/CodePage.h"
#include "store/Database.h"
#include "store/DeskOptions.h"
#include "store/FloodOptions.h"
#include "store/MSComm.h"
#include "store/ModemTable.h"
#include "store/ProgramFolder.h"
#include "store/ReplyOptions.h"
#include "store/UpdateCom.h"
#include "support/ProgramFolderFixture.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class tst_store : public QObject
{
    Q_OBJECT

private slots:
    void rowPatterns();
    void caseRulesAndUserUpdate();
    void missingTableOrRow();
    void portSettingsRecord();
    void setupTool();
};

void tst_store::rowPatterns()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "111", true);
    folder.addUser("Bob", "222", QVariant());
    folder.addUser("Ann", "333", false);
    folder.addUser("Cid", "444", true);

    // Read all, in the order the table returns the rows.
    Table users("SELECT* From USERS");
    QVERIFY(!users.rs.Bof());
    users.rs.MoveLast();
    QCOMPARE(users.rs.RecordCount(), 4);
    users.rs.MoveFirst();
    QStringList names;
    for (; !users.rs.Eof(); users.rs.MoveNext())
        names << users.rs.Field("NAME").toString();
    QCOMPARE(names, QStringList({"Ann", "Bob", "Ann", "Cid"}));

    // A null On_Duty counts as off duty; the recipient list keeps pairs.
    Recipients recipients;
    recipients.GetPhoneNo();
    QCOMPARE(recipients.PhoneList(), QStringList({"Ann", "111", "Cid", "444"}));
    QCOMPARE(recipients.PhoneCount(), short(4));

    // Append: the default On_Duty.
    users.rs.AddNew();
    users.rs.SetField("name", "Dee");
    users.rs.Update();
    QCOMPARE(folder.rows("SELECT On_Duty FROM USERS WHERE name = 'Dee'"), QList<QVariantList>({{0}}));

    // With or without a trailing separator the alert file is the same.
    QCOMPARE(MT4Paths::alertFile("/a"), QString("/a/Sms.csv"));
    QCOMPARE(MT4Paths::alertFile("/b/"), QString("/b/Sms.csv"));

    // An empty table: both ends at once; the recipient list empties.
    folder.exec("DELETE FROM USERS");
    Table empty("SELECT* From USERS");
    QVERIFY(empty.rs.Bof() && empty.rs.Eof());
    QVERIFY_THROWS_EXCEPTION(DbError, empty.rs.Field("name"));
    recipients.GetPhoneNo();
    QCOMPARE(recipients.PhoneCount(), short(0));
}

void tst_store::caseRulesAndUserUpdate()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "111", true);
    folder.addUser("ANN", "222", true);
    folder.addUser("O'Brien", "333", false);

    // Table and field names in any case.
    Table users("SELECT* From users");
    QCOMPARE(users.rs.Field("PHONE_NO").toString(), QString("111"));
    QVERIFY_THROWS_EXCEPTION(DbError, users.rs.Field("Phone"));

    // The update's lookup ignores letter case and changes the first row
    // only; the name is data, and typed text cannot widen the lookup.
    QVERIFY(UpdateCom::UpdateUser("ann", "777", false));
    QVERIFY(UpdateCom::UpdateUser("O'Brien", "123", true));
    QVERIFY(!UpdateCom::UpdateUser("Nobody", "1", true));
    QVERIFY(!UpdateCom::UpdateUser("x' OR '1'='1", "666", true));
    QCOMPARE(folder.rows("SELECT name, Phone_No, On_Duty FROM USERS"),
             QList<QVariantList>({{"ann", "777", 0}, {"ANN", "222", 1}, {"O'Brien", "123", 1}}));
}

void tst_store::missingTableOrRow()
{
    ProgramFolderFixture folder;
    folder.exec("DROP TABLE Account");
    try {
        UpdateCom::CheckLogin("a", "b");
        QFAIL("no error for a missing table");
    } catch (const DbError &error) {
        QVERIFY2(error.description().contains("Account"), qPrintable(error.text()));
    }
    folder.exec("DELETE FROM Com");
    QVERIFY_THROWS_EXCEPTION(DbError, UpdateCom::SaveComSettings("COM 2", "9600", "8", "None", "1"));
}

void tst_store::portSettingsRecord()
{
    ProgramFolderFixture folder(
        {.port = 4, .baud = "19200", .dataBits = " 8", .parity = "N", .stopBit = " 2", .flowControl = "Hardware"});
    const PortSettings loaded = UpdateCom::LoadComSettings();
    QCOMPARE(loaded.ComPort(), short(4));
    QCOMPARE(loaded.SettingsString(), QString("19200,N, 8, 2"));
    QCOMPARE(loaded.FlowControl(), QString("Hardware"));

    // Stored as the next start loads it: the parity by its first letter,
    // the flow control left as it was.
    const PortSettings saved = UpdateCom::SaveComSettings("COM12", "115200", "7", "odd", "2");
    QCOMPARE(folder.rows("SELECT COM, Buad, DataBits, Parity, StopBit, FlowControl FROM Com"),
             QList<QVariantList>({{12, "115200", "7", "o", "2", "Hardware"}}));
    QCOMPARE(UpdateCom::LoadComSettings(), saved);
    QCOMPARE(saved.ComPort(), short(12));
    QCOMPARE(saved.SettingsString(), QString("115200,o,7,2"));

    // An opening uses the saved values; COM12 does not exist here.
    MSComm port;
    try {
        UpdateCom::OpenModemPort(port, saved, saved.ComPort());
        QFAIL("a port that does not exist opened");
    } catch (const CommError &error) {
        QCOMPARE(error.number(), int(CommError::InvalidPortNumber));
    }
    QCOMPARE(port.settings(), QString("115200,o,7,2"));
    QCOMPARE(port.commPort(), short(12));

    QCOMPARE(UpdateCom::PortNumber("COM 1"), short(1));
    QCOMPARE(UpdateCom::PortNumber("COM"), short(0));
    QVERIFY_THROWS_EXCEPTION(CommError, port.setSettings("9600,X,8,1"));
    QVERIFY_THROWS_EXCEPTION(CommError, port.setSettings("fast,N,8,1"));
}

void tst_store::setupTool()
{
    // vantrel-setup makes a new Config.mdb, never overwrites one, and with
    // only --autostart leaves it as it is and adds the desktop entry.
    QTemporaryDir home;
    const QString folder = home.filePath("desk $1 \"a\"");
    QVERIFY(QDir().mkpath(folder));
    QByteArray said; // what the last run printed
    const auto setup = [&](const QStringList &arguments) {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
        tool.setProcessEnvironment(environment);
        tool.start(QCoreApplication::applicationDirPath() + "/vantrel-setup", QStringList{folder} + arguments);
        const bool finished = tool.waitForFinished(10000) && tool.exitStatus() == QProcess::NormalExit;
        said = tool.readAllStandardOutput();
        return finished ? tool.exitCode() : -1;
    };
    // A number the modem could not take is refused before anything is written.
    QCOMPARE(setup({"--account", "admin:pw:1", "--user", "Ann:+1 (555) 010-0200:on", "--user", "Bob:+1555\"x"}), 1);
    QVERIFY(!QFile::exists(QDir(folder).filePath("Config.mdb")));
    QCOMPARE(setup({"--account", "admin:pw:1", "--user", "Ann:+111:on"}), 0);
    QCOMPARE(setup({"--user", "Bob:+222"}), 1);
    QCOMPARE(setup({}), 1);
    QCOMPARE(setup({"--autostart"}), 0);
    QCOMPARE(setup({"--codepage", "no-such-page"}), 1);
    QCOMPARE(setup({"--codepage", "windows-1251"}), 0);
    // Further modems go in beside the Com row's, each port once.
    QCOMPARE(setup({"--add-modem", "2"}), 0);
    QCOMPARE(setup({"--add-modem", "3:19200"}), 0);
    QCOMPARE(setup({"--add-modem", "2"}), 1);
    QCOMPARE(setup({"--add-modem", "x"}), 1);
    // A SIM PIN, a reset command, a heartbeat; refused when malformed.
    QCOMPARE(setup({"--pin", "1234", "--pin", "3:98765", "--reset-command", "3:AT+CFUN=1,1", "--heartbeat", "08:30"}),
             0);
    QCOMPARE(setup({"--pin", "12"}), 1);
    QCOMPARE(setup({"--reset-command", "AT\r\nATD"}), 1);
    QCOMPARE(setup({"--heartbeat", "25:61"}), 1);
    // A new desk asks for delivery reports; a word other than on or off is refused.
    ProgramFolder::set(folder);
    QCOMPARE(DeskOptions::value(DeskOptions::DeliveryReports), QString("on"));
    QCOMPARE(setup({"--delivery-reports", "off"}), 0);
    QCOMPARE(DeskOptions::value(DeskOptions::DeliveryReports), QString("off"));
    QCOMPARE(setup({"--delivery-reports", "maybe"}), 1);
    // A gateway wants its sendsms user; the gateway alone wants a gateway.
    QCOMPARE(setup({"--gateway-only"}), 1);
    QCOMPARE(setup({"--gateway", "http://10.0.0.5:13013/cgi-bin/sendsms"}), 1);
    QCOMPARE(setup({"--gateway", "http://10.0.0.5:13013/cgi-bin/sendsms?username=u&password=p", "--gateway-only",
                    "--gateway-reports", "10.0.0.9:14000"}),
             0);
    QCOMPARE(DeskOptions::value(DeskOptions::GatewayOnly), QString("on"));
    QCOMPARE(DeskOptions::value(DeskOptions::GatewayReports), QString("10.0.0.9:14000"));
    QCOMPARE(setup({"--gateway-reports", "70000"}), 1);
    // The incoming SMS' secret, and the get-url for kannel.conf that carries
    // it to the reports' address, every '%' doubled for Kannel.
    QVERIFY(DeskOptions::value(DeskOptions::GatewayIncoming).isEmpty());
    QCOMPARE(setup({"--gateway-incoming", "s3cret&%"}), 0);
    QCOMPARE(DeskOptions::value(DeskOptions::GatewayIncoming), QString("s3cret&%"));
    QVERIFY2(said.contains("\nget-url = \"http://10.0.0.9:14000/incoming?secret=s3cret%%26%%25&from=%p&text=%b"),
             said.constData());
    QVERIFY2(said.contains("\nmax-messages = 0\n"), said.constData());
    QCOMPARE(setup({"--gateway-incoming", ""}), 0);
    QVERIFY(DeskOptions::value(DeskOptions::GatewayIncoming).isEmpty());
    QCOMPARE(setup({"--gateway", "off"}), 0);
    QCOMPARE(DeskOptions::value(DeskOptions::Gateway), QString());
    // A new desk collapses repeats for 10 minutes and paces each phone at
    // 10 SMS in 10 minutes; each can be changed or turned off.
    QCOMPARE(FloodOptions::collapseMinutes(), 10);
    QCOMPARE(FloodOptions::pace(), (FloodOptions::Pace{10, 10}));
    QCOMPARE(setup({"--collapse", "5", "--pace", "3/15"}), 0);
    QCOMPARE(FloodOptions::collapseMinutes(), 5);
    QCOMPARE(FloodOptions::pace(), (FloodOptions::Pace{3, 15}));
    QCOMPARE(setup({"--collapse", "-1"}), 1);
    QCOMPARE(setup({"--collapse", "soon"}), 1);
    QCOMPARE(setup({"--pace", "10"}), 1);
    QCOMPARE(setup({"--pace", "10/x"}), 1);
    QCOMPARE(FloodOptions::collapseMinutes(), 5);
    QCOMPARE(setup({"--collapse", "0", "--pace", "0"}), 0);
    QCOMPARE(FloodOptions::collapseMinutes(), 0);
    QVERIFY(!FloodOptions::pace().on());
    // A stored value that does not read is off.
    DeskOptions::setValue(DeskOptions::Pace, "lots");
    QVERIFY(!FloodOptions::pace().on());
    QCOMPARE(DeskOptions::value(DeskOptions::GatewayOnly), QString());
    // A new desk hears its phones; escalation wants replies on and names
    // of users, kept in order; an empty list clears it.
    QVERIFY(ReplyOptions::replies());
    QCOMPARE(ReplyOptions::escalateMinutes(), 0);
    QCOMPARE(setup({"--escalate", "15", "--escalation", "Ann"}), 0);
    QCOMPARE(ReplyOptions::escalateMinutes(), 15);
    QCOMPARE(ReplyOptions::escalation(), QStringList({"Ann"}));
    QCOMPARE(setup({"--escalation", "Ann, Nobody"}), 1);
    QCOMPARE(setup({"--escalate", "soon"}), 1);
    QCOMPARE(ReplyOptions::escalation(), QStringList({"Ann"}));
    QCOMPARE(setup({"--replies", "off"}), 0);
    QCOMPARE(ReplyOptions::escalateMinutes(), 0); // off with the replies
    QCOMPARE(setup({"--escalate", "5"}), 1);
    QCOMPARE(setup({"--replies", "maybe"}), 1);
    QCOMPARE(setup({"--replies", "on", "--escalate", "0", "--escalation", ""}), 0);
    QVERIFY(ReplyOptions::replies());
    QCOMPARE(ReplyOptions::escalateMinutes(), 0);
    QVERIFY(ReplyOptions::escalation().isEmpty());
    QList<PortSettings> modems;
    for (const ModemTable::Modem &modem : ModemTable::modems())
        modems << modem.settings;
    QCOMPARE(modems.size(), 3);
    QCOMPARE(modems[1].SettingsString(), QString("9600,N,8,1"));
    QCOMPARE(modems[2].port, short(3));
    QCOMPARE(modems[2].baud, QString("19200"));
    const QList<ModemTable::Modem> options = ModemTable::modems();
    QCOMPARE(options[0].pin, QString("1234"));
    QCOMPARE(options[2].pin, QString("98765"));
    QCOMPARE(options[2].resetCommand, QString("AT+CFUN=1,1"));
    QCOMPARE(DeskOptions::value(DeskOptions::Heartbeat), QString("08:30"));
    QCOMPARE(CodePage::load(), QString("windows-1251"));
    QCOMPARE(Table("SELECT* From USERS").rs.RecordCount(), 1);

    QFile entry(home.filePath("config/autostart/vantrel.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    QVERIFY(text.startsWith("[Desktop Entry]\nType=Application\nName=Vantrel\n"));
    QVERIFY(text.contains("\nExec=\"" + QDir(folder).absolutePath().replace("$", "\\$").replace("\"", "\\\"")
                          + "/vantrel\"\n"));
    QVERIFY(text.contains("\nPath=" + QDir(folder).absolutePath() + "\n"));
}

QTEST_GUILESS_MAIN(tst_store)
#include "tst_store.moc"
