// vantrel-check, the program a desk's Nagios or Icinga runs, against
// Status.json files in a temporary folder: for each state and each of its
// causes the right exit code and line; a stale, a missing, a damaged and an
// unreadable status; bad arguments. Then the figure it reads that the outbox
// gives (how long the oldest alert has waited), and the real relay's own
// Status.json read as the relay stands: a modem up, then down with alerts
// held, then up again.

#include "pickup/AlertFile.h"
#include "pickup/MT4Paths.h"
#include "store/Outbox.h"
#include "support/ProgramFolderFixture.h"
#include "support/Readback.h"
#include "support/RunUntil.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestClock.h"
#include "support/TestRelay.h"
#include "tools/check/StatusCheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#include <unistd.h>

class tst_check : public QObject
{
    Q_OBJECT

private slots:
    void eachStateAndItsCauses();
    void aStatusThatCannotBeTrusted();
    void badArgumentsAndHelp();
    void timeLimits();
    void oldestWaitingAlertInTheOutbox();
    void theRelaysOwnStatus();
};

namespace {

constexpr uid_t Nobody = 65534;

struct Checked {
    int code = -1;
    QString line; // without its line end
    QString text; // before the figures
    QString figures;
};

// Runs the vantrel-check built beside the tests as a monitoring does;
// `asNobody`: as the unprivileged user a monitoring runs its checks as
// (when the tests run as root; Qt refuses to run with only its effective
// user changed).
Checked runCheck(const QStringList &arguments, bool asNobody = false)
{
    QProcess check;
    if (asNobody && ::geteuid() == 0) {
        check.setChildProcessModifier([] {
            if (::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
                ::_exit(127);
        });
    }
    check.start(QCoreApplication::applicationDirPath() + QStringLiteral("/vantrel-check"), arguments);
    if (!check.waitForFinished(10000) || check.exitStatus() != QProcess::NormalExit)
        return {};
    const QString out = QString::fromUtf8(check.readAllStandardOutput());
    Checked checked;
    checked.code = check.exitCode();
    // A plugin's answer is one line.
    if (out.count(QLatin1Char('\n')) != 1 || !out.endsWith(QLatin1Char('\n')))
        return checked;
    checked.line = out.chopped(1);
    const qsizetype bar = checked.line.indexOf(QStringLiteral(" | "));
    checked.text = checked.line.left(bar);
    checked.figures = bar < 0 ? QString() : checked.line.mid(bar + 3);
    return checked;
}

QString isoTime(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODate);
}

// A status as the relay writes it, of a desk with two modems up and nothing
// waiting, written `age` seconds ago.
QJsonObject healthyStatus(int age = 0)
{
    const auto modem = [](int port, int dbm) {
        return QJsonObject{
            {"port", port}, {"state", "up"}, {"reason", ""}, {"signal_dbm", dbm}, {"operator", "Vantrel Mobile"}};
    };
    return QJsonObject{
        {"updated", isoTime(QDateTime::currentDateTimeUtc().addSecs(-age))},
        {"modems", QJsonArray{modem(1, -71), modem(2, -83)}},
        {"waiting", 0},
        {"retrying", 0},
        {"given_up_24h", 0},
        {"gateway", QJsonValue()},
        {"unconfirmed", 0},
        {"not_delivered_24h", 0},
        {"last_alert", QJsonValue()},
        {"oldest_waiting", QJsonValue()},
    };
}

void setModem(QJsonObject &status, int index, const QString &state, const QString &reason = {})
{
    QJsonArray modems = status["modems"].toArray();
    QJsonObject modem = modems[index].toObject();
    modem["state"] = state;
    modem["reason"] = reason;
    if (state != "up")
        modem["signal_dbm"] = QJsonValue();
    modems[index] = modem;
    status["modems"] = modems;
}

void writeStatus(const QString &folder, const QByteArray &bytes)
{
    writeFile(folder + "/Status.json", bytes);
}

void writeStatus(const QString &folder, const QJsonObject &status)
{
    writeStatus(folder, QJsonDocument(status).toJson());
}

// The age figure moves with the clock; the line without it, and it apart.
QString withoutAge(const QString &figures)
{
    return QString(figures).remove(QRegularExpression(" ?status_age=\\d+s;;180$"));
}

} // namespace

void tst_check::eachStateAndItsCauses()
{
    QTemporaryDir folder;
    struct Case {
        const char *name;
        std::function<void(QJsonObject &)> change;
        QStringList options;
        int code;
        QString text;
    };
    const QString healthyFigures = "waiting=0 retrying=0 given_up_24h=0;0 not_delivered_24h=0;0 unconfirmed=0 "
                                   "oldest_waiting=0s;300 modems_up=2;;;0;2 com1_signal_dbm=-71 com2_signal_dbm=-83";
    const QDateTime written = QDateTime::currentDateTimeUtc().addSecs(-20);
    const QList<Case> cases = {
        {"all up", [](QJsonObject &) {}, {}, 0, "VANTREL OK - 2 of 2 modems up, 0 waiting"},
        // Taken out of service on purpose: nothing to warn of.
        {"one out of service",
         [](QJsonObject &s) { setModem(s, 1, "out of service"); },
         {},
         0,
         "VANTREL OK - 1 of 2 modems up (COM2 out of service), 0 waiting"},
        {"gateway alone",
         [](QJsonObject &s) {
             s["modems"] = QJsonArray();
             s["gateway"] = QJsonObject{{"host", "sms.example"}, {"state", "up"}, {"reason", ""}};
         },
         {},
         0,
         "VANTREL OK - gateway up, 0 waiting"},
        {"modem down",
         [](QJsonObject &s) { setModem(s, 1, "down", "no answer"); },
         {},
         1,
         "VANTREL WARNING - modem COM2 down (no answer); 1 of 2 modems up, 0 waiting"},
        {"modem set aside",
         [](QJsonObject &s) { setModem(s, 0, "set aside", "3 failures in a row"); },
         {},
         1,
         "VANTREL WARNING - modem COM1 set aside (3 failures in a row); 1 of 2 modems up, 0 waiting"},
        {"gateway set aside",
         [](QJsonObject &s) {
             s["gateway"] = QJsonObject{{"host", "sms.example"},
                                        {"state", "set aside"},
                                        {"reason", "the gateway refused the connection (sms.example:13013)"}};
         },
         {},
         1,
         "VANTREL WARNING - gateway set aside (the gateway refused the connection (sms.example:13013)); "
         "2 of 2 modems up, gateway set aside, 0 waiting"},
        {"given up",
         [](QJsonObject &s) {
             s["given_up_24h"] = 2;
             s["retrying"] = 1;
         },
         {},
         1,
         "VANTREL WARNING - 2 SMS given up in the last 24 h; 2 of 2 modems up, 0 waiting, 1 retrying"},
        {"not delivered",
         [](QJsonObject &s) { s["not_delivered_24h"] = 1; },
         {},
         1,
         "VANTREL WARNING - 1 SMS not delivered in the last 24 h; 2 of 2 modems up, 0 waiting"},
        // How long it had waited when the status was written.
        {"waiting too long",
         [&](QJsonObject &s) {
             s["waiting"] = 3;
             s["updated"] = isoTime(written);
             s["oldest_waiting"] = isoTime(written.addSecs(-301));
         },
         {},
         1,
         "VANTREL WARNING - an alert has waited 301 s to go out; 2 of 2 modems up, 3 waiting"},
        {"waiting, not too long for this desk",
         [&](QJsonObject &s) {
             s["waiting"] = 3;
             s["updated"] = isoTime(written);
             s["oldest_waiting"] = isoTime(written.addSecs(-301));
         },
         {"--waiting-warn", "600"},
         0,
         "VANTREL OK - 2 of 2 modems up, 3 waiting"},
        // Every cause is said, the worst first.
        {"no route",
         [](QJsonObject &s) {
             setModem(s, 0, "down", "no answer");
             setModem(s, 1, "down", "SIM missing");
             s["waiting"] = 5;
             s["given_up_24h"] = 1;
         },
         {},
         2,
         "VANTREL CRITICAL - no route can send; modem COM1 down (no answer); modem COM2 down (SIM missing); "
         "1 SMS given up in the last 24 h; 0 of 2 modems up, 5 waiting"},
        {"every route out of service",
         [](QJsonObject &s) {
             setModem(s, 0, "out of service");
             setModem(s, 1, "out of service");
         },
         {},
         2,
         "VANTREL CRITICAL - no route can send; 0 of 2 modems up (COM1, COM2 out of service), 0 waiting"},
        {"gateway the only one up",
         [](QJsonObject &s) {
             setModem(s, 0, "down", "no such device");
             setModem(s, 1, "out of service");
             s["gateway"] = QJsonObject{{"host", "sms.example"}, {"state", "up"}, {"reason", ""}};
         },
         {},
         1,
         "VANTREL WARNING - modem COM1 down (no such device); 0 of 2 modems up (COM2 out of service), gateway up, "
         "0 waiting"},
        {"no route at all",
         [](QJsonObject &s) { s["modems"] = QJsonArray(); },
         {},
         2,
         "VANTREL CRITICAL - no route can send; 0 of 0 modems up, 0 waiting"},
        // An older relay's status, without the later figures: they are
        // neither invented nor held against it.
        {"an older relay's status",
         [](QJsonObject &s) {
             for (const char *key : {"gateway", "unconfirmed", "not_delivered_24h", "oldest_waiting"})
                 s.remove(key);
         },
         {},
         0,
         "VANTREL OK - 2 of 2 modems up, 0 waiting"},
    };
    for (const Case &c : cases) {
        QJsonObject status = healthyStatus(20);
        c.change(status);
        writeStatus(folder.path(), status);
        const Checked checked = runCheck(QStringList{folder.path()} + c.options);
        QVERIFY2(checked.code == c.code, c.name);
        QVERIFY2(checked.text == c.text, qPrintable(QString(c.name) + ": " + checked.line));
        QVERIFY2(QRegularExpression("status_age=2[0-9]s;;180$").match(checked.figures).hasMatch(),
                 qPrintable(checked.line));
    }

    // The figures, as the plugin rules write them.
    writeStatus(folder.path(), healthyStatus(20));
    QCOMPARE(withoutAge(runCheck({folder.path()}).figures), healthyFigures);
    QJsonObject status = healthyStatus(20);
    setModem(status, 1, "down", "no answer");
    status["gateway"] = QJsonObject{{"host", "sms.example"}, {"state", "up"}, {"reason", ""}};
    status["waiting"] = 4;
    status["retrying"] = 2;
    status["given_up_24h"] = 1;
    status["not_delivered_24h"] = 3;
    status["unconfirmed"] = 7;
    status["updated"] = isoTime(written);
    status["oldest_waiting"] = isoTime(written.addSecs(-45));
    writeStatus(folder.path(), status);
    QCOMPARE(withoutAge(runCheck({folder.path(), "--waiting-warn", "60"}).figures),
             QString("waiting=4 retrying=2 given_up_24h=1;0 not_delivered_24h=3;0 unconfirmed=7 oldest_waiting=45s;60 "
                     "modems_up=1;;;0;2 gateway_up=1;;;0;1 com1_signal_dbm=-71 com2_signal_dbm=U"));
    status.remove("gateway");
    for (const char *key : {"unconfirmed", "not_delivered_24h", "oldest_waiting"})
        status.remove(key);
    writeStatus(folder.path(), status);
    QCOMPARE(withoutAge(runCheck({folder.path()}).figures),
             QString("waiting=4 retrying=2 given_up_24h=1;0 modems_up=1;;;0;2 com1_signal_dbm=-71 "
                     "com2_signal_dbm=U"));

    // Whatever a route's reason holds (a gateway's error page, a line end,
    // a "|"), the answer stays one line and its figures stay the figures.
    status = healthyStatus(20);
    setModem(status, 0, "down", "bad | worse\nworst\t" + QString(500, 'x'));
    writeStatus(folder.path(), status);
    const Checked hostile = runCheck({folder.path()});
    QCOMPARE(hostile.code, 1);
    QVERIFY2(hostile.text.startsWith("VANTREL WARNING - modem COM1 down (bad / worse worst xxx"),
             qPrintable(hostile.line));
    QVERIFY2(hostile.text.contains("xxx...); 1 of 2 modems up"), qPrintable(hostile.line));
    QVERIFY(hostile.text.size() < 200);
    QCOMPARE(hostile.line.count('|'), 1);
    QCOMPARE(withoutAge(hostile.figures), QString(healthyFigures)
                                              .replace("modems_up=2", "modems_up=1")
                                              .replace("com1_signal_dbm=-71", "com1_signal_dbm=U"));
}

void tst_check::aStatusThatCannotBeTrusted()
{
    QTemporaryDir folder;
    const QString critical = "VANTREL CRITICAL - ";
    const QString unknown = "VANTREL UNKNOWN - ";

    // Missing: the relay never ran here, or its folder lost the file.
    Checked checked = runCheck({folder.path()});
    QCOMPARE(checked.code, 2);
    QCOMPARE(checked.line, critical + "no Status.json in " + folder.path() + " (the relay is not running?)");

    // Stale by its own time: what it says is no longer so, its age alone is
    // told.
    writeStatus(folder.path(), healthyStatus(412));
    checked = runCheck({folder.path()});
    QCOMPARE(checked.code, 2);
    QVERIFY2(QRegularExpression("^VANTREL CRITICAL - status is 41[2-5] s old \\(the relay is not running\\?\\) "
                                "\\| status_age=41[2-5]s;;180$")
                 .match(checked.line)
                 .hasMatch(),
             qPrintable(checked.line));
    // Stale by the file's time where it says none; its own time, where it
    // does, counts over the file's.
    QJsonObject status = healthyStatus();
    status.remove("updated");
    writeStatus(folder.path(), status);
    QFile file(folder.filePath("Status.json"));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-300), QFileDevice::FileModificationTime));
    file.close();
    checked = runCheck({folder.path()});
    QCOMPARE(checked.code, 2);
    QVERIFY2(checked.text.startsWith(critical + "status is 30"), qPrintable(checked.line));
    status["updated"] = isoTime(QDateTime::currentDateTimeUtc());
    writeStatus(folder.path(), status);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-300), QFileDevice::FileModificationTime));
    file.close();
    QCOMPARE(runCheck({folder.path()}).code, 0);

    // Damaged, as a half-copied folder or a hand edit leaves it.
    const QByteArray whole = QJsonDocument(healthyStatus()).toJson();
    QJsonObject wrongType = healthyStatus();
    wrongType["waiting"] = "many";
    QJsonObject noModems = healthyStatus();
    noModems.remove("modems");
    QJsonObject badTime = healthyStatus();
    badTime["updated"] = "yesterday";
    QJsonObject badModem = healthyStatus();
    badModem["modems"] = QJsonArray{QJsonObject{{"port", 1}}};
    const QList<std::pair<QByteArray, QString>> damaged = {
        {whole.left(whole.size() / 2), "Status.json is damaged: "},
        {QByteArray(), "Status.json is damaged: "},
        {QByteArray("\xff\xfe garbage"), "Status.json is damaged: "},
        {"[1, 2]", "Status.json is damaged: it is no object"},
        {QJsonDocument(wrongType).toJson(), "Status.json is damaged: \"waiting\" is not a count"},
        {QJsonDocument(noModems).toJson(), "Status.json is damaged: it has no list of \"modems\""},
        {QJsonDocument(badTime).toJson(), "Status.json is damaged: \"updated\" is not a time"},
        {QJsonDocument(badModem).toJson(), "Status.json is damaged: the modem has no state"},
    };
    for (const auto &[bytes, said] : damaged) {
        writeStatus(folder.path(), bytes);
        checked = runCheck({folder.path()});
        QCOMPARE(checked.code, 3);
        QVERIFY2(checked.line.startsWith(unknown + said), qPrintable(checked.line));
        QVERIFY(!checked.line.contains('|'));
    }

    // Something that cannot be read.
    QVERIFY(QFile::remove(folder.filePath("Status.json")));
    QVERIFY(QDir(folder.path()).mkdir("Status.json"));
    checked = runCheck({folder.path()});
    QCOMPARE(checked.code, 3);
    QVERIFY2(checked.line.startsWith(unknown + "Status.json cannot be read: "), qPrintable(checked.line));
    checked = runCheck({folder.filePath("elsewhere")});
    QCOMPARE(checked.code, 3);
    QCOMPARE(checked.line, unknown + "no folder " + folder.filePath("elsewhere"));
    // A file the monitoring's user may not read, in a folder it may.
    QVERIFY(QDir(folder.path()).rmdir("Status.json"));
    writeStatus(folder.path(), healthyStatus());
    QVERIFY(QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                     | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                                     | QFileDevice::ExeOther));
    QVERIFY(QFile::setPermissions(folder.filePath("Status.json"), QFileDevice::WriteOwner));
    checked = runCheck({folder.path()}, true);
    QCOMPARE(checked.code, 3);
    QVERIFY2(checked.line.startsWith(unknown + "Status.json cannot be read: "), qPrintable(checked.line));
}

void tst_check::badArgumentsAndHelp()
{
    QTemporaryDir folder;
    writeStatus(folder.path(), healthyStatus());
    const QList<QStringList> bad = {
        {},
        {folder.path(), folder.path()},
        {folder.path(), "--waiting-warn", "five minutes"},
        {folder.path(), "--waiting-warn", "-5"},
        {folder.path(), "--waiting-warn"},
        {folder.path(), "--critical", "3"},
    };
    for (const QStringList &arguments : bad) {
        const Checked checked = runCheck(arguments);
        QVERIFY2(checked.code == 3, qPrintable(arguments.join(' ')));
        QVERIFY2(checked.line.startsWith("VANTREL UNKNOWN - ") && checked.line.endsWith("; see vantrel-check --help"),
                 qPrintable(checked.line));
    }
    QCOMPARE(runCheck({"--waiting-warn", "0", folder.path()}).code, 0);

    // The help tells every state, its causes and every figure.
    QProcess help;
    help.start(QCoreApplication::applicationDirPath() + "/vantrel-check", {"--help"});
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    const QString text = QString::fromUtf8(help.readAllStandardOutput());
    for (const char *word : {"0 OK",
                             "1 WARNING",
                             "2 CRITICAL",
                             "3 UNKNOWN",
                             "--waiting-warn SECONDS",
                             "300",
                             "180",
                             "set aside",
                             "given up",
                             "not delivered",
                             "missing",
                             "damaged",
                             "waiting ",
                             "retrying",
                             "given_up_24h",
                             "not_delivered_24h",
                             "unconfirmed",
                             "oldest_waiting",
                             "modems_up",
                             "gateway_up",
                             "comN_signal_dbm",
                             "status_age"})
        QVERIFY2(text.contains(word), word);
}

void tst_check::timeLimits()
{
    // The limits themselves, at a moment of the test's choosing.
    const QDateTime now(QDate(2026, 12, 9), QTime(10, 0), Qt::UTC);
    const StatusCheck check;
    QJsonObject status = healthyStatus();
    const auto at = [&](qint64 ago) {
        status["updated"] = isoTime(now.addSecs(-ago));
        return check.check(status, {}, now).state;
    };
    QCOMPARE(at(StatusCheck::StaleSecs), StatusCheck::Ok);
    QCOMPARE(at(StatusCheck::StaleSecs + 1), StatusCheck::Critical);
    // A relay whose clock runs ahead of the monitoring's.
    QCOMPARE(at(-90), StatusCheck::Ok);
    QVERIFY(check.check(status, {}, now).line.endsWith(" status_age=0s;;180"));
    // Without its own time, the file's.
    status.remove("updated");
    QCOMPARE(check.check(status, now.addSecs(-StatusCheck::StaleSecs), now).state, StatusCheck::Ok);
    QCOMPARE(check.check(status, now.addSecs(-StatusCheck::StaleSecs - 1), now).state, StatusCheck::Critical);

    status["updated"] = isoTime(now);
    status["oldest_waiting"] = isoTime(now.addSecs(-StatusCheck::DefaultWaitingWarnSecs));
    QCOMPARE(check.check(status, {}, now).state, StatusCheck::Ok);
    status["oldest_waiting"] = isoTime(now.addSecs(-StatusCheck::DefaultWaitingWarnSecs - 1));
    QCOMPARE(check.check(status, {}, now).state, StatusCheck::Warning);
    // Taken after the status was written, by a relay's clock that stepped back.
    status["oldest_waiting"] = isoTime(now.addSecs(60));
    QCOMPARE(check.check(status, {}, now).state, StatusCheck::Ok);
}

void tst_check::oldestWaitingAlertInTheOutbox()
{
    // When the oldest alert still to go out was taken: not dispatched yet,
    // with a first try to come, or with a retry to come; an alert done
    // with (sent, given up, nobody to send to) waits no longer.
    const QDateTime ten(QDate(2026, 12, 9), QTime(10, 0), Qt::UTC);
    TestClock clock(ten);
    ProgramFolderFixture folder;
    Outbox outbox;
    const QString mt4 = folder.addWatchedFolder("mt4");
    const QString file = MT4Paths::alertFile(mt4);
    writeFile(file, "L|10:00|EA1|Title|Gold\r\nL|10:05|EA1|Title|Silver\r\nL|10:06|EA1|Title|Oil\r\n");
    Outbox::FileId id;
    bool plain = false;
    QVERIFY(AlertFile::identify(file, id, plain));
    const auto take = [&](int bytes, const QString &message) {
        outbox.commitAlerts(mt4, file, id, bytes, {{{"L", "10:00", "EA1", "Title", message}, message.toLatin1()}});
        return outbox.firstTries(mt4, 10).last().id;
    };
    const auto oldest = [&] { return outbox.standing(ten.addDays(-1)).oldestWaiting; };
    QCOMPARE(oldest(), QDateTime());

    const qint64 gold = take(24, "Gold");
    clock.set(ten.addSecs(300));
    const qint64 silver = take(50, "Silver");
    clock.set(ten.addSecs(360));
    const qint64 oil = take(73, "Oil");
    QCOMPARE(oldest(), ten);
    outbox.beginDispatch(gold, {{"Ann", "+111", {}}, {"Bob", "+222", {}}});
    QCOMPARE(oldest(), ten);
    const QList<Outbox::Sms> goldSms = outbox.dueSms(gold, clock.now());
    outbox.recordSent(goldSms[0].id, "COM1");
    outbox.recordFailed(goldSms[1].id, "no answer", clock.now().addSecs(60), 0);
    // Every first try done; Bob's retry is to come.
    QCOMPARE(outbox.standing(ten.addDays(-1)).retrying, 1);
    QCOMPARE(oldest(), ten);
    outbox.giveUp(goldSms[1].id, "no answer", 0);
    QCOMPARE(oldest(), ten.addSecs(300));
    // Nobody to send to, or nobody with a phone number.
    outbox.beginDispatch(silver, {});
    QCOMPARE(oldest(), ten.addSecs(360));
    outbox.beginDispatch(oil, {{"Cy", "x", "not a phone number"}});
    QCOMPARE(oldest(), QDateTime());
}

void tst_check::theRelaysOwnStatus()
{
    // The relay's own Status.json, read by the check as a monitoring does,
    // while the relay runs: its clock stays at one moment near the real one,
    // which the check goes by.
    const QDateTime start = QDateTime::currentDateTimeUtc();
    TestClock clock(start);
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "+111", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestRelay relay(300);
    relay.setHealthRoundMs(150);
    const auto status = [&] { return QJsonDocument::fromJson(fileBytes(folder.file("Status.json"))).object(); };
    QTRY_COMPARE(status()["modems"].toArray()[0].toObject()["signal_dbm"].toInt(), -73);
    writeAlerts(mt4, 1, 2);
    QTRY_COMPARE(modem.messages().size(), 2);
    QVERIFY(relay.waitUntilIdle());
    relay.statusFile().write();
    Checked checked = runCheck({folder.path()});
    QCOMPARE(checked.code, 0);
    QCOMPARE(checked.text, QString("VANTREL OK - 1 of 1 modems up, 0 waiting"));
    QVERIFY2(checked.figures.startsWith("waiting=0 retrying=0 given_up_24h=0;0 not_delivered_24h=0;0 "
                                        "unconfirmed=0 oldest_waiting=0s;300 modems_up=1;;;0;1 com1_signal_dbm=-73 "
                                        "status_age="),
             qPrintable(checked.line));

    // The only modem loses its network; alerts taken 400 s ago wait.
    QVERIFY(modem.control("registration 3"));
    QTRY_COMPARE(status()["modems"].toArray()[0].toObject()["state"].toString(), QString("down"));
    clock.set(start.addSecs(-400));
    writeAlerts(mt4, 3, 4);
    QTRY_VERIFY(folderEntries(mt4).isEmpty());
    QTRY_COMPARE(folder.outboxRows("SELECT count(*) FROM sms WHERE state = 'waiting'").value(0).value(0).toInt(), 2);
    clock.set(start);
    relay.statusFile().write();
    QCOMPARE(status()["oldest_waiting"].toString(), isoTime(start.addSecs(-400)));
    checked = runCheck({folder.path()});
    QCOMPARE(checked.code, 2);
    QCOMPARE(checked.text, QString("VANTREL CRITICAL - no route can send; modem COM1 down (not registered on the "
                                   "network); an alert has waited 400 s to go out; 0 of 1 modems up, 2 waiting"));

    // Back: the held alerts go, and all is well again.
    QVERIFY(modem.control("registration 1"));
    QTRY_COMPARE(modem.messages().size(), 4);
    QVERIFY(relay.waitUntilIdle());
    relay.statusFile().write();
    QCOMPARE(status()["oldest_waiting"], QJsonValue());
    checked = runCheck({folder.path()});
    QCOMPARE(checked.code, 0);
    QCOMPARE(checked.text, QString("VANTREL OK - 1 of 1 modems up, 0 waiting"));
}

QTEST_GUILESS_MAIN(tst_check)
#include "tst_check.moc"
