// A modem line that listens to phones, against the simulator on a real
// pseudo-terminal: SMS stored while the program was down read at start, a
// full SIM emptied, an SMS not kept left on the SIM and offered again, text
// and PDU mode, a long SMS joined, SMS passed on as they come; a call hung
// up and told once; calls the desk makes (answered, not answered, busy, a
// modem without voice); a call and an SMS never interleaved; the line back
// after the device was pulled still listens; and a seeded random run of
// reads and calls through silence, errors, pulled devices and late replies.

#include "modem/ModemLine.h"
#include "modem/PageLog.h"
#include "modem/SmsSendJob.h"
#include "modem/TraceList.h"
#include "route/Route.h"
#include "store/ProgramFolder.h"
#include "support/RunUntil.h"
#include "support/SimulatedModem.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A small unit: a command waits 100 ms, what was left on the SIM is looked
// at again after 694 ms.
constexpr int UnitMs = 100;
// For calls: one rings at most 2.1 s, and is held 0.7 s once answered.
constexpr int CallUnitMs = 600;

// One modem line listening, with what it heard.
struct Listener {
    explicit Listener(const QStringList &options, bool listen = true, int unitMs = UnitMs)
        : modem(options + QStringList{"--reopen-ms", "50"}, dir.path(), 1)
    {
        ProgramFolder::set(dir.path());
        line = std::make_unique<ModemLine>(PortSettings(), trace);
        line->setTimeUnitMs(unitMs);
        QObject::connect(&trace, &QAbstractItemModel::dataChanged, &trace,
                         [this](const QModelIndex &at) { traced << at.data().toString(); });
        if (listen)
            line->listenToPhones(incoming());
    }

    ModemLine::Incoming incoming()
    {
        return {[this](const QString &route, const IncomingSms &sms) {
                    if (!keeping)
                        return false;
                    routes << route;
                    kept << sms;
                    return true;
                },
                [this](const QString &route, const QString &number) { rang << route + ' ' + number; }};
    }

    QStringList keptTexts() const
    {
        QStringList texts;
        for (const IncomingSms &sms : kept)
            texts << sms.number + ' ' + sms.text;
        return texts;
    }

    // How many SMS the SIM holds now, asked through the line.
    int stored()
    {
        std::optional<ModemAnswer> answer;
        line->ask(ModemCommand::query("AT+CPMS=\"SM\"", "+CPMS:"), [&](const ModemAnswer &given) { answer = given; });
        if (!runUntil([&] { return answer.has_value(); }, 5000) || !answer->given)
            return -1;
        static const QRegularExpression used(R"(\+CPMS:\s*(\d+))");
        return used.match(answer->reply).captured(1).toInt();
    }

    std::optional<CallOutcome> call(const QString &number)
    {
        std::optional<CallOutcome> outcome;
        line->call(number, [&](const CallOutcome &given) { outcome = given; });
        runUntil([&] { return outcome.has_value(); }, 10000);
        return outcome;
    }

    QTemporaryDir dir;
    SimulatedModem modem;
    TraceList trace;
    QStringList traced;
    std::unique_ptr<ModemLine> line;
    bool keeping = true;
    QList<IncomingSms> kept;
    QStringList routes;
    QStringList rang;
};

// The commands the line wrote, in order.
QStringList sent(const QStringList &traced)
{
    QStringList commands;
    for (const QString &line : traced)
        if (line.startsWith("Sending.."))
            commands << line.mid(9);
    return commands;
}

} // namespace

class tst_incoming : public QObject
{
    Q_OBJECT

private slots:
    void storedWhileDownAndAFullSim();
    void smsNotKeptStaysAndComesAgain();
    void textModePassedOnAndLongSms();
    void callsFromPhonesAreHungUpAndToldOnce();
    void callsTheDeskMakes();
    void aCallAndAnSmsNeverInterleave();
    void theLineBackStillListens();
    void randomFaults();
};

void tst_incoming::storedWhileDownAndAFullSim()
{
    // 30 SMS came while the program was down and filled the SIM; one more
    // waits at the network until there is room.
    QStringList options;
    for (int i = 1; i <= 30; ++i)
        options << "--sms" << QString("+1555%1 away %2").arg(i, 4, 10, QChar('0')).arg(i);
    Listener desk(options);
    QVERIFY2(desk.modem.isReady(), qPrintable(desk.modem.log()));
    QVERIFY(desk.modem.control("sms +15550099 one more"));
    desk.line->open();
    QVERIFY2(runUntil([&] { return desk.kept.size() >= 31 && !desk.line->busy(); }, 15000),
             qPrintable(desk.modem.log().right(3000)));
    QTest::qWait(200);
    QCOMPARE(desk.kept.size(), 31);
    QStringList texts = desk.keptTexts();
    QCOMPARE(texts.first(), QString("+15550001 away 1"));
    QVERIFY(texts.contains("+15550099 one more"));
    texts.removeDuplicates();
    QCOMPARE(texts.size(), 31);
    QVERIFY(desk.kept.first().sentAt.isValid());
    QCOMPARE(desk.routes.first(), QString("COM1"));
    QCOMPARE(desk.stored(), 0);
    // The modem was told to show callers and to announce SMS.
    const QStringList commands = sent(desk.traced);
    QVERIFY2(commands.mid(0, 3) == QStringList({"AT+CMEE=1", "AT+CLIP=1", "AT+CNMI=?"}),
             qPrintable(commands.join('|')));
    QVERIFY(commands.contains("AT+CNMI=2,1,0,0,0"));
    QVERIFY(commands.contains("AT+CMGL=4"));

    // A line that does not listen says nothing of it, and reads nothing.
    Listener deaf({"--sms", "+15550100 hello"}, false);
    deaf.line->open();
    QVERIFY(runUntil([&] { return !deaf.line->busy(); }, 3000));
    QCOMPARE(sent(deaf.traced), QStringList({"AT+CMEE=1"}));
    QVERIFY(deaf.kept.isEmpty());
}

void tst_incoming::smsNotKeptStaysAndComesAgain()
{
    Listener desk({"--sms", "+15550100 OK"});
    desk.keeping = false;
    desk.line->open();
    QVERIFY(runUntil([&] { return desk.traced.contains("Sending..AT+CMGL=4") && !desk.line->busy(); }, 5000));
    QVERIFY(desk.kept.isEmpty());
    QVERIFY(!sent(desk.traced).contains("AT+CMGD=1"));
    QCOMPARE(desk.stored(), 1);
    // Offered again later, and deleted once taken.
    desk.keeping = true;
    QVERIFY(runUntil([&] { return desk.kept.size() == 1 && !desk.line->busy(); }, 5000));
    QCOMPARE(desk.keptTexts(), QStringList({"+15550100 OK"}));
    QCOMPARE(desk.stored(), 0);
    QVERIFY(sent(desk.traced).contains("AT+CMGD=1"));

    // One announced while the program listens is read at once.
    QVERIFY(desk.modem.control("sms +15550101 OK 12"));
    QVERIFY(runUntil([&] { return desk.kept.size() == 2; }, 3000));
    QCOMPARE(desk.keptTexts().last(), QString("+15550101 OK 12"));
}

void tst_incoming::textModePassedOnAndLongSms()
{
    // A modem without PDU mode shows its SMS as text.
    {
        Listener desk({"--refuse-pdu", "--sms", "5550100 stored as text"});
        desk.line->open();
        QVERIFY(runUntil([&] { return desk.kept.size() == 1; }, 5000));
        QVERIFY(desk.modem.control("sms +15550101 on"));
        QVERIFY(runUntil([&] { return desk.kept.size() == 2 && !desk.line->busy(); }, 5000));
        QCOMPARE(desk.keptTexts(), QStringList({"5550100 stored as text", "+15550101 on"}));
        QVERIFY(desk.kept.last().sentAt.isValid());
        QVERIFY(sent(desk.traced).contains("AT+CMGL=\"ALL\""));
        QCOMPARE(desk.stored(), 0);
    }
    // A long SMS in PDU mode, in UCS-2, its parts joined; one part alone waits for the rest.
    {
        Listener desk({});
        desk.line->open();
        QVERIFY(runUntil([&] { return !desk.line->busy(); }, 3000));
        const QString text = QString::fromUtf8("Подтверждаю: ") + QString(150, QChar(0x0436));
        QVERIFY(desk.modem.control("sms +15550102 " + text));
        QVERIFY(runUntil([&] { return desk.kept.size() == 1 && !desk.line->busy(); }, 5000));
        QCOMPARE(desk.kept.first().text, text);
        QCOMPARE(desk.stored(), 0);
    }
    // A modem that only passes them on (+CMT): each handed on as it comes.
    {
        Listener desk({"--cmt-only"});
        desk.line->open();
        QVERIFY(runUntil([&] { return !desk.line->busy(); }, 3000));
        QVERIFY(sent(desk.traced).contains("AT+CNMI=2,2,0,0,0"));
        QVERIFY(desk.modem.control("sms +15550103 STATUS"));
        QVERIFY(desk.modem.control("sms +15550104 " + QString(200, 'x')));
        QVERIFY(runUntil([&] { return desk.kept.size() == 2; }, 3000));
        QCOMPARE(desk.keptTexts(), QStringList({"+15550103 STATUS", "+15550104 " + QString(200, 'x')}));
    }
}

void tst_incoming::callsFromPhonesAreHungUpAndToldOnce()
{
    Listener desk({});
    desk.line->open();
    QVERIFY(runUntil([&] { return !desk.line->busy(); }, 3000));
    QVERIFY(desk.modem.control("ring +15550100"));
    QVERIFY(runUntil([&] { return desk.rang.size() == 1; }, 3000));
    QCOMPARE(desk.rang, QStringList({"COM1 +15550100"}));
    QVERIFY(desk.modem.log().contains("ATH hangs up the call from +15550100"));
    // No RING after the hang-up: one call, one word of it.
    QTest::qWait(2500);
    QCOMPARE(desk.rang.size(), 1);
    QVERIFY(!desk.modem.log().contains("gives up"));

    // A modem that refuses ATH hangs up on AT+CHUP.
    Listener chup({"--no-ath"});
    chup.line->open();
    QVERIFY(runUntil([&] { return !chup.line->busy(); }, 3000));
    QVERIFY(chup.modem.control("ring 5550101"));
    QVERIFY(runUntil([&] { return chup.rang.size() == 1; }, 3000));
    QCOMPARE(chup.rang, QStringList({"COM1 5550101"}));
    QVERIFY(chup.modem.log().contains("AT+CHUP hangs up the call from 5550101"));
}

void tst_incoming::callsTheDeskMakes()
{
    Listener desk({}, true, CallUnitMs);
    QSignalSpy unable(desk.line.get(), &ModemLine::cannotCall);
    desk.line->open();
    QVERIFY(desk.line->canCall());
    QVERIFY(desk.modem.control("dial answer 0.1"));
    std::optional<CallOutcome> outcome = desk.call("+15550100");
    QVERIFY(outcome);
    QCOMPARE(outcome->result, CallOutcome::Result::Answered);
    QVERIFY(desk.modem.log().contains("ATH hangs up the call to +15550100"));
    QVERIFY(sent(desk.traced).contains("AT+CLCC"));

    // Rings on: hung up after the ringing limit.
    QVERIFY(desk.modem.control("dial ringing"));
    outcome = desk.call("5550101");
    QCOMPARE(outcome->result, CallOutcome::Result::NoAnswer);
    QVERIFY(desk.modem.log().contains("ATH hangs up the call to 5550101"));
    QVERIFY(desk.modem.control("dial busy"));
    QCOMPARE(desk.call("5550102")->result, CallOutcome::Result::Busy);
    QVERIFY(desk.modem.control("dial noanswer"));
    QCOMPARE(desk.call("5550103")->result, CallOutcome::Result::NoAnswer);
    QCOMPARE(desk.call("not a number")->result, CallOutcome::Result::Failed);
    QCOMPARE(unable.size(), 0);

    // No voice: said once, and never asked again.
    QVERIFY(desk.modem.control("dial novoice"));
    QCOMPARE(desk.call("5550104")->result, CallOutcome::Result::CannotCall);
    QCOMPARE(unable.size(), 1);
    QVERIFY(!desk.line->canCall());
    QCOMPARE(desk.call("5550105")->result, CallOutcome::Result::CannotCall);
    QCOMPARE(unable.size(), 1);
    QCOMPARE(desk.modem.log().count("ATD5550105"), 0);

    // As a route: said once in the page log.
    Listener refusing({}, true, CallUnitMs);
    refusing.line->open();
    QVERIFY(refusing.modem.control("dial novoice error"));
    PageLog pageLog;
    Route route(std::move(refusing.line), ModemTable::Modem{}, pageLog);
    for (const char *number : {"5550106", "5550107"}) {
        std::optional<CallOutcome> refused;
        route.transport().call(number, [&](const CallOutcome &given) { refused = given; });
        QVERIFY(runUntil([&] { return refused.has_value(); }, 5000));
        QCOMPARE(refused->result, CallOutcome::Result::CannotCall);
    }
    QCOMPARE(pageLog.text().count("Modem COM1 cannot make calls"), 1);
    QVERIFY(!route.transport().canCall());
}

void tst_incoming::aCallAndAnSmsNeverInterleave()
{
    Listener desk({"--sms", "+15550100 first"}, true, CallUnitMs);
    QVERIFY(desk.modem.control("dial answer 0.1"));
    desk.line->open();
    // All asked for at once: a call, an SMS to send, one coming in.
    std::optional<CallOutcome> outcome;
    std::optional<SendOutcome> smsSent;
    desk.line->call("+15550200", [&](const CallOutcome &given) {
        outcome = given;
        desk.traced << "(call done)";
    });
    SmsRequest request;
    request.text = "Alert";
    request.number = "+15550300";
    desk.line->send(request, [&](const SendOutcome &given) { smsSent = given; });
    QVERIFY(desk.modem.control("sms +15550101 second"));
    QVERIFY(runUntil([&] { return outcome && smsSent && desk.kept.size() == 2; }, 10000));
    QVERIFY(runUntil([&] { return !desk.line->busy(); }, 3000));
    QCOMPARE(outcome->result, CallOutcome::Result::Answered);
    QVERIFY(smsSent->sent);
    // From ATD to the call's end only the call's own commands.
    const qsizetype from = desk.traced.indexOf("Sending..ATD+15550200;");
    const qsizetype to = desk.traced.indexOf("(call done)");
    QVERIFY2(from >= 0 && to > from, qPrintable(desk.traced.join('\n')));
    for (const QString &command : sent(desk.traced.mid(from, to - from)))
        QVERIFY2(QRegularExpression("^(ATD\\+15550200;|AT\\+CLCC|ATH)$").match(command).hasMatch(),
                 qPrintable(command));
}

void tst_incoming::theLineBackStillListens()
{
    Listener desk({});
    desk.line->open();
    QVERIFY(runUntil([&] { return !desk.line->busy(); }, 3000));
    QVERIFY(desk.modem.control("unplug"));
    QVERIFY(runUntil([&] { return !desk.line->portOpen(); }, 3000));
    // Stored while the device was away, read when it is back; it rings again too.
    QVERIFY(desk.modem.control("sms +15550100 while pulled"));
    QVERIFY(desk.modem.control("plug") && desk.modem.waitForReady());
    QVERIFY(runUntil([&] { return desk.kept.size() == 1; }, 5000));
    QCOMPARE(desk.modem.log().count("AT+CLIP=1"), 2);
    QVERIFY(desk.modem.control("ring +15550101"));
    QVERIFY(runUntil([&] { return desk.rang.size() == 1; }, 3000));
    QVERIFY(desk.modem.control("sms +15550102 after"));
    QVERIFY(runUntil([&] { return desk.kept.size() == 2; }, 3000));
}

void tst_incoming::randomFaults()
{
    const quint32 seed = qEnvironmentVariableIsSet("VANTREL_SEED")
                             ? quint32(qEnvironmentVariableIntValue("VANTREL_SEED"))
                             : QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    const auto failed = qScopeGuard([seed] {
        if (QTest::currentTestFailed())
            qWarning("tst_incoming::randomFaults failed with VANTREL_SEED=%u", seed);
    });
    const int delay = random.bounded(40);
    Listener desk({"--seed", QString::number(seed), "--split-rate", "0.3", "--delay", QString::number(delay),
                   "--sm-capacity", "10"});
    QVERIFY(desk.modem.isReady());
    desk.line->open();
    QStringList texts;
    int callsAsked = 0;
    int callsDone = 0;
    bool calling = false; // from a call's ATD to its end: none but its own commands
    QStringList mixed;
    QObject::connect(&desk.trace, &QAbstractItemModel::dataChanged, &desk.trace, [&](const QModelIndex &at) {
        const QString line = at.data().toString();
        static const QRegularExpression own("^Sending..(ATD|AT\\+CLCC|ATH|AT\\+CHUP)");
        if (line.startsWith("Sending..ATD"))
            calling = true;
        else if (calling && line.startsWith("Sending..") && !own.match(line).hasMatch())
            mixed << line;
    });
    for (int step = 0; step < 40; ++step) {
        desk.keeping = random.bounded(5) != 0;
        switch (random.bounded(8)) {
        case 0:
        case 1:
        case 2: {
            const QString text = QString("+1555%1 message %2").arg(random.bounded(10000), 4, 10, QChar('0')).arg(step);
            texts << text;
            QVERIFY(desk.modem.control("sms " + text));
            break;
        }
        case 3:
            desk.modem.control("ring +1555000" + QString::number(random.bounded(10)));
            break;
        case 4:
            desk.modem.control(random.bounded(2) ? "dial answer 0.05" : "dial busy");
            ++callsAsked;
            desk.line->call("5550200", [&](const CallOutcome &) {
                ++callsDone;
                calling = false;
            });
            break;
        case 5:
            desk.modem.control("silent on");
            runUntil([] { return false; }, 100 + int(random.bounded(400)));
            desk.modem.control("silent off");
            break;
        case 6:
            desk.modem.control("no-sim");
            runUntil([] { return false; }, int(random.bounded(300)));
            desk.modem.control("sim");
            break;
        case 7:
            desk.modem.control("unplug");
            runUntil([] { return false; }, int(random.bounded(300)));
            desk.modem.control("plug");
            break;
        }
        runUntil([] { return false; }, int(random.bounded(200)));
    }
    // Mended: everything taken from now on.
    desk.keeping = true;
    desk.modem.control("silent off");
    desk.modem.control("sim");
    desk.modem.control("plug");
    const bool settled = runUntil([&] { return desk.kept.size() >= texts.size() && callsDone == callsAsked; }, 30000);
    if (!settled)
        qWarning("%s\n--- trace:\n%s", qPrintable(desk.modem.log().right(6000)),
                 qPrintable(desk.traced.mid(desk.traced.size() - 80).join('\n')));
    QVERIFY2(settled, qPrintable(QString("kept %1 of %2, calls %3 of %4, busy %5, open %6")
                                     .arg(desk.kept.size())
                                     .arg(texts.size())
                                     .arg(callsDone)
                                     .arg(callsAsked)
                                     .arg(desk.line->busy())
                                     .arg(desk.line->portOpen())));
    QVERIFY2(runUntil([&] { return !desk.line->busy(); }, 5000), "the engine never became idle");
    QTest::qWait(3 * ModemLine::LookAgainMs * UnitMs / ModemLine::DefaultTimeUnitMs);
    QVERIFY(runUntil([&] { return !desk.line->busy(); }, 5000));
    // Each exactly once, and none left on the SIM.
    QStringList kept = desk.keptTexts();
    kept.sort();
    texts.sort();
    QCOMPARE(kept, texts);
    int stored = -1;
    for (int tries = 0; tries < 5 && stored < 0; ++tries)
        stored = desk.stored();
    QCOMPARE(stored, 0);
    QVERIFY2(mixed.isEmpty(), qPrintable(mixed.join('\n')));
}

QTEST_GUILESS_MAIN(tst_incoming)
#include "tst_incoming.moc"
