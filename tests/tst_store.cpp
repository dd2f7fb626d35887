// The configuration store against a real Config.mdb: the four row patterns,
// the case rules, the user update's lookup, the port settings record, and
// the errors of a missing file or table.

#include "modem/Recipients.h"
#include "pickup/MT4Paths.h"
#include "store/CodePage.h"
#include "store/Database.h"
#include "store/MSComm.h"
#include "store/ProgramFolder.h"
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
    void caseRules();
    void userUpdateTakesNameAsData();
    void missingFileAndTable();
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
    {
        Connection cn;
        cn.Open();
        Recordset rs;
        rs.Open("SELECT* From USERS", cn);
        QVERIFY(!rs.Bof());
        rs.MoveLast();
        QCOMPARE(rs.RecordCount(), 4);
        rs.MoveFirst();
        QStringList names;
        while (!rs.Eof()) {
            names << rs.Field("NAME").toString();
            rs.MoveNext();
        }
        QCOMPARE(names, QStringList({"Ann", "Bob", "Ann", "Cid"}));
    }

    // A null On_Duty counts as off duty; the recipient list keeps pairs.
    Recipients recipients;
    recipients.GetPhoneNo();
    QCOMPARE(recipients.PhoneList(), QStringList({"Ann", "111", "Cid", "444"}));
    QCOMPARE(recipients.PhoneCount(), short(4));

    // Append: auto-numbered ID, default On_Duty.
    {
        Connection cn;
        cn.Open();
        Recordset rs;
        rs.Open("SELECT* From Mt4Path order by ID", cn);
        for (const char *path : {"/a", "/b/"}) {
            rs.AddNew();
            rs.SetField("MT4_PATH", QString::fromLatin1(path));
            rs.Update();
        }
        Recordset users;
        users.Open("SELECT* From USERS", cn);
        users.AddNew();
        users.SetField("name", "Dee");
        users.SetField("Phone_No", "555");
        users.Update();
    }
    QCOMPARE(folder.rows("SELECT ID, MT4_PATH FROM Mt4Path"), QList<QVariantList>({{1, "/a"}, {2, "/b/"}}));
    QCOMPARE(folder.rows("SELECT On_Duty FROM USERS WHERE name = 'Dee'"), QList<QVariantList>({{0}}));
    MT4Paths paths;
    paths.GetPathList();
    QCOMPARE(paths.PathList(), QStringList({"/a", "/b/"}));
    QCOMPARE(paths.PathCount(), short(2));
    // With or without a trailing separator the alert file is the same.
    QCOMPARE(MT4Paths::alertFile("/a"), QString("/a/Sms.csv"));
    QCOMPARE(MT4Paths::alertFile("/b/"), QString("/b/Sms.csv"));

    // Delete matching: every row with the name goes, exact comparison.
    {
        Connection cn;
        cn.Open();
        Recordset rs;
        rs.Open("SELECT* From USERS", cn);
        while (!rs.Eof()) {
            if (rs.Field("name").toString() == "Ann") {
                rs.Delete();
                rs.Update();
            }
            rs.MoveNext();
        }
    }
    QCOMPARE(folder.rows("SELECT name FROM USERS"), QList<QVariantList>({{"Bob"}, {"Cid"}, {"Dee"}}));

    // Change first row.
    {
        Connection cn;
        cn.Open();
        Recordset rs;
        rs.Open("SELECT* From USERS", cn);
        rs.SetField("Phone_No", "999");
        rs.Update();
    }
    QCOMPARE(folder.rows("SELECT Phone_No FROM USERS WHERE name = 'Bob'"), QList<QVariantList>({{"999"}}));

    // An empty table: both ends at once; the recipient list empties.
    folder.exec("DELETE FROM USERS");
    {
        Connection cn;
        cn.Open();
        Recordset rs;
        rs.Open("SELECT* From USERS", cn);
        QVERIFY(rs.Bof() && rs.Eof());
        QVERIFY_THROWS_EXCEPTION(DbError, rs.Field("name"));
    }
    recipients.GetPhoneNo();
    QCOMPARE(recipients.PhoneCount(), short(0));
}

void tst_store::caseRules()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "111", true);
    folder.addUser("ANN", "222", true);

    // Table and field names in any case.
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open("SELECT* From users", cn);
    QCOMPARE(rs.Field("PHONE_NO").toString(), QString("111"));
    QVERIFY_THROWS_EXCEPTION(DbError, rs.Field("Phone"));

    // The update's lookup ignores letter case and changes the first row only.
    QVERIFY(UpdateCom::UpdateUser("ann", "777", false));
    QCOMPARE(folder.rows("SELECT name, Phone_No, On_Duty FROM USERS"),
             QList<QVariantList>({{"ann", "777", 0}, {"ANN", "222", 1}}));
    QVERIFY(!UpdateCom::UpdateUser("Nobody", "1", true));
}

void tst_store::userUpdateTakesNameAsData()
{
    ProgramFolderFixture folder;
    folder.addUser("O'Brien", "111", false);
    folder.addUser("Zed", "222", false);

    QVERIFY(UpdateCom::UpdateUser("O'Brien", "123", true));
    QCOMPARE(folder.rows("SELECT name, Phone_No, On_Duty FROM USERS"),
             QList<QVariantList>({{"O'Brien", "123", 1}, {"Zed", "222", 0}}));

    // Typed text cannot change which rows the lookup touches.
    QVERIFY(!UpdateCom::UpdateUser("x' OR '1'='1", "666", true));
    QCOMPARE(folder.rows("SELECT Phone_No FROM USERS"), QList<QVariantList>({{"123"}, {"222"}}));
}

void tst_store::missingFileAndTable()
{
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
        QVERIFY_THROWS_EXCEPTION(DbError, UpdateCom::LoadComSettings());
        QVERIFY_THROWS_EXCEPTION(DbError, UpdateCom::SaveComSettings("COM 2", "9600", "8", "None", "1"));

        QFile::remove(folder.databasePath());
        try {
            Connection cn;
            cn.Open();
            QFAIL("no error for a missing file");
        } catch (const DbError &error) {
            QCOMPARE(error.number(), 3024);
            QVERIFY(error.description().contains(folder.databasePath()));
        }
        // Opening never creates the file.
        QVERIFY(!QFile::exists(folder.databasePath()));
    }
}

void tst_store::portSettingsRecord()
{
    Schema::ComRow com;
    com.port = 4;
    com.baud = "19200";
    com.dataBits = " 8";
    com.parity = "N";
    com.stopBit = " 2";
    com.flowControl = "Hardware";
    ProgramFolderFixture folder(com);

    QCOMPARE(UpdateCom::ComPort, short(4));
    QCOMPARE(UpdateCom::SettingsString(), QString("19200,N, 8, 2"));
    QCOMPARE(UpdateCom::FlowControl, QString("Hardware"));

    UpdateCom::SaveComSettings("COM 3", "9600", " 8", "Even", " 1");
    QCOMPARE(UpdateCom::ComPort, short(3));
    QCOMPARE(UpdateCom::SettingsString(), QString("9600,E, 8, 1"));
    QCOMPARE(folder.rows("SELECT COM, Buad, DataBits, Parity, StopBit, FlowControl FROM Com"),
             QList<QVariantList>({{3, "9600", " 8", "E", " 1", "Hardware"}}));

    UpdateCom::SaveComSettings("COM12", "115200", "7", "odd", "2");
    QCOMPARE(UpdateCom::ComPort, short(12));
    QCOMPARE(UpdateCom::Parity, QString("o"));
    UpdateCom::ComPort = 0;
    UpdateCom::LoadComSettings();
    QCOMPARE(UpdateCom::ComPort, short(12));
    QCOMPARE(UpdateCom::SettingsString(), QString("115200,o,7,2"));

    // The next opening uses the saved values; COM12 does not exist here.
    MSComm port;
    try {
        UpdateCom::OpenModemPort(port, UpdateCom::ComPort);
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
    const auto setup = [&](const QStringList &arguments) {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
        tool.setProcessEnvironment(environment);
        tool.start(QCoreApplication::applicationDirPath() + "/vantrel-setup", QStringList{folder} + arguments);
        return tool.waitForFinished(10000) && tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    };
    QCOMPARE(setup({"--account", "admin:pw:1", "--user", "Ann:+111:on"}), 0);
    QCOMPARE(setup({"--user", "Bob:+222"}), 1);
    QCOMPARE(setup({}), 1);
    QCOMPARE(setup({"--autostart"}), 0);
    QCOMPARE(setup({"--codepage", "no-such-page"}), 1);
    QCOMPARE(setup({"--codepage", "windows-1251"}), 0);
    ProgramFolder::set(folder);
    QCOMPARE(CodePage::load(), QString("windows-1251"));
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open("SELECT* From USERS", cn);
    QCOMPARE(rs.RecordCount(), 1);

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
