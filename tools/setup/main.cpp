// vantrel-setup: creates a new Config.mdb for Vantrel in a folder, and
// installs the entry that starts Vantrel with the desk's session.

#include "pickup/Heartbeat.h"
#include "route/GatewayIncoming.h"
#include "route/GatewayRoute.h"
#include "route/HttpListener.h"
#include "route/RouteSet.h"
#include "store/CodePage.h"
#include "store/Database.h"
#include "store/DeskOptions.h"
#include "store/FloodOptions.h"
#include "store/ModemTable.h"
#include "store/PhoneNumber.h"
#include "store/ProgramFolder.h"
#include "store/ReplyOptions.h"
#include "store/Schema.h"
#include "store/Statements.h"
#include "store/UpdateCom.h"
#include "tools/setup/Autostart.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTime>

#include <algorithm>
#include <cstdio>

namespace {

[[noreturn]] void fail(const QString &text)
{
    std::fprintf(stderr, "vantrel-setup: %s\n", qPrintable(text));
    std::exit(1);
}

// NAME:PASSWORD[:RANK]; the password may itself hold colons when a rank follows.
Schema::AccountRow parseAccount(const QString &text)
{
    const int first = int(text.indexOf(QLatin1Char(':')));
    if (first <= 0)
        fail(QStringLiteral("--account wants NAME:PASSWORD[:RANK], not \"%1\"").arg(text));
    Schema::AccountRow account;
    account.userName = text.left(first);
    QString rest = text.mid(first + 1);
    const int last = int(rest.lastIndexOf(QLatin1Char(':')));
    bool numeric = false;
    if (last >= 0) {
        const int rank = rest.mid(last + 1).toInt(&numeric);
        if (numeric) {
            account.rank = rank;
            rest = rest.left(last);
        }
    }
    account.password = rest;
    return account;
}

// A listening address "[HOST:]PORT" stored as "HOST:PORT" under `name`;
// one that does not read ends the program with `wanted`.
QString storeAddress(const char *name, const QString &text, const QString &wanted)
{
    QHostAddress host;
    quint16 port = 0;
    if (!HttpListener::parseAddress(text, &host, &port))
        fail(QStringLiteral("%1, not \"%2\"").arg(wanted, text));
    const QString address = QStringLiteral("%1:%2").arg(host.toString()).arg(port);
    DeskOptions::setValue(QString::fromLatin1(name), address);
    return address;
}

// Users and folders go in through the same recordset layer the program uses.
void addRows(const QStringList &users, const QStringList &paths)
{
    Connection cn;
    cn.Open();
    for (const QString &user : users) {
        const QStringList parts = user.split(QLatin1Char(':'));
        if (parts.size() < 2)
            fail(QStringLiteral("--user wants NAME:PHONE[:on], not \"%1\"").arg(user));
        Recordset rs;
        rs.Open(QString::fromLatin1(Statements::Users), cn);
        rs.AddNew();
        rs.SetField(QStringLiteral("name"), parts[0]);
        rs.SetField(QStringLiteral("Phone_No"), parts[1]);
        rs.SetField(QStringLiteral("On_Duty"), parts.value(2).compare(QLatin1String("on"), Qt::CaseInsensitive) == 0);
        rs.Update();
    }
    for (const QString &path : paths) {
        Recordset rs;
        rs.Open(QString::fromLatin1(Statements::Mt4Paths), cn);
        rs.AddNew();
        rs.SetField(QStringLiteral("MT4_PATH"), QDir(path).absolutePath());
        rs.Update();
    }
}

// "N:VALUE" for the modem on port N, or "VALUE" for the COM page's modem.
std::pair<short, QString> forModem(const QString &text)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    bool isPort = false;
    const int port = colon > 0 ? text.left(colon).toInt(&isPort) : 0;
    if (isPort && port >= 1 && port <= 32767)
        return {short(port), text.mid(colon + 1)};
    return {UpdateCom::LoadComSettings().port, text};
}

void setDeliveryReports(const QString &text)
{
    if (text != QLatin1String("on") && text != QLatin1String("off"))
        fail(QStringLiteral("--delivery-reports wants on or off, not \"%1\"").arg(text));
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::DeliveryReports), text);
    std::printf(text == QLatin1String("on") ? "Every SMS asks for a delivery report.\n"
                                            : "No SMS asks for a delivery report.\n");
}

// The gateway: its sendsms URL ("off" removes it), whether it is the only
// way out, and where its delivery reports come to.
void setGateway(const QCommandLineParser &parser, const QCommandLineOption &url, const QCommandLineOption &only,
                const QCommandLineOption &reports)
{
    if (parser.isSet(url)) {
        const QString text = parser.value(url);
        if (text == QLatin1String("off")) {
            DeskOptions::setValue(QString::fromLatin1(DeskOptions::Gateway), QString());
            DeskOptions::setValue(QString::fromLatin1(DeskOptions::GatewayOnly), QString());
            std::printf("No gateway.\n");
        } else {
            const QString problem = GatewayRoute::urlProblem(QUrl(text, QUrl::StrictMode));
            if (!problem.isEmpty())
                fail(QStringLiteral("--gateway: %1").arg(problem));
            DeskOptions::setValue(QString::fromLatin1(DeskOptions::Gateway), text);
            std::printf("SMS may go through the gateway at %s.\n", qPrintable(QUrl(text).host()));
        }
    }
    if (parser.isSet(reports)) {
        const QString address = storeAddress(DeskOptions::GatewayReports, parser.value(reports),
                                             QStringLiteral("--gateway-reports wants [HOST:]PORT"));
        std::printf("The gateway's delivery reports come to %s.\n", qPrintable(address));
    }
    if (parser.isSet(only)) {
        if (DeskOptions::value(QString::fromLatin1(DeskOptions::Gateway)).isEmpty())
            fail(QStringLiteral("--gateway-only wants a gateway: --gateway URL"));
        DeskOptions::setValue(QString::fromLatin1(DeskOptions::GatewayOnly), QStringLiteral("on"));
        std::printf("SMS go through the gateway alone; the modems are not used.\n");
    }
}

// The secret the gateway's incoming SMS must carry (empty: none, and every
// one is refused), and the get-url that carries it for kannel.conf.
void setGatewayIncoming(const QString &secret)
{
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::GatewayIncoming), secret);
    if (secret.isEmpty()) {
        std::printf("No SMS is taken from the gateway.\n");
        return;
    }
    QHostAddress host = QHostAddress::LocalHost;
    quint16 port = RouteSet::DefaultReportPort;
    HttpListener::parseAddress(DeskOptions::value(QString::fromLatin1(DeskOptions::GatewayReports)), &host, &port);
    QUrl listener;
    listener.setScheme(QStringLiteral("http"));
    // Listening on every address, the gateway knows best which reaches it.
    listener.setHost(host == QHostAddress::Any || host == QHostAddress::AnyIPv4 || host == QHostAddress::AnyIPv6
                         ? QStringLiteral("HOST")
                         : host.toString());
    listener.setPort(port);
    std::printf("SMS from phones are taken from the gateway with this secret. In kannel.conf:\n\n"
                "group = sms-service\nkeyword = default\ncatch-all = true\nget-url = \"%s\"\n"
                "max-messages = 0\nomit-empty = true\n",
                qPrintable(GatewayIncoming::queryTemplate(listener, secret)));
}

// Where the running program serves its metrics page; "off" or nothing: nowhere.
void setMetrics(const QString &text)
{
    if (text.isEmpty() || text == QLatin1String("off")) {
        DeskOptions::setValue(QString::fromLatin1(DeskOptions::Metrics), QString());
        std::printf("No metrics page.\n");
        return;
    }
    const QString address =
        storeAddress(DeskOptions::Metrics, text, QStringLiteral("--metrics wants [HOST:]PORT or off"));
    std::printf("The metrics page is served on %s at /metrics from the next start.\n", qPrintable(address));
}

// How long repeats are counted rather than sent, and the pace per phone.
void setFloodOptions(const QCommandLineParser &parser, const QCommandLineOption &collapse,
                     const QCommandLineOption &pace)
{
    if (parser.isSet(collapse)) {
        const std::optional<int> minutes = FloodOptions::parseCollapse(parser.value(collapse));
        if (!minutes)
            fail(QStringLiteral("--collapse wants MINUTES (0 = off), not \"%1\"").arg(parser.value(collapse)));
        FloodOptions::storeCollapse(*minutes);
        if (*minutes > 0)
            std::printf("Repeats of an alert within %d minutes are counted and sent as one SMS.\n", *minutes);
        else
            std::printf("Every repeat of an alert is sent.\n");
    }
    if (parser.isSet(pace)) {
        const std::optional<FloodOptions::Pace> value = FloodOptions::parsePace(parser.value(pace));
        if (!value)
            fail(QStringLiteral("--pace wants N/MINUTES (0 = off), not \"%1\"").arg(parser.value(pace)));
        FloodOptions::storePace(*value);
        if (value->on())
            std::printf("At most %d SMS to one phone in %d minutes; the rest go as digests.\n", value->count,
                        value->minutes);
        else
            std::printf("No pace per phone.\n");
    }
}

// Whether phones are heard, how long an alert waits for its acknowledgement,
// and whom it is escalated to.
void setReplyOptions(const QCommandLineParser &parser, const QCommandLineOption &replies,
                     const QCommandLineOption &escalate, const QCommandLineOption &escalation)
{
    if (parser.isSet(replies)) {
        const QString value = parser.value(replies);
        if (value != QLatin1String("on") && value != QLatin1String("off"))
            fail(QStringLiteral("--replies wants on or off, not \"%1\"").arg(value));
        ReplyOptions::storeReplies(value == QLatin1String("on"));
        std::printf(value == QLatin1String("on") ? "Replies and missed calls from the users' phones are read and "
                                                   "acknowledge alerts.\n"
                                                 : "Phones are not listened to.\n");
    }
    if (parser.isSet(escalate)) {
        const std::optional<int> minutes = ReplyOptions::parseEscalate(parser.value(escalate));
        if (!minutes)
            fail(QStringLiteral("--escalate wants MINUTES (0 = off), not \"%1\"").arg(parser.value(escalate)));
        if (*minutes > 0 && !ReplyOptions::replies())
            fail(QStringLiteral("--escalate needs replies on (--replies on): without them nothing can be "
                                "acknowledged"));
        ReplyOptions::storeEscalate(*minutes);
        if (*minutes > 0)
            std::printf("An alert nobody acknowledged within %d minutes is escalated.\n", *minutes);
        else
            std::printf("Alerts are not escalated.\n");
    }
    if (parser.isSet(escalation)) {
        const QStringList names = ReplyOptions::parseNames(parser.value(escalation));
        const QStringList unknown = ReplyOptions::unknownUsers(names);
        if (!unknown.isEmpty())
            fail(QStringLiteral("--escalation: no user is named \"%1\"").arg(unknown.join(QStringLiteral("\", \""))));
        ReplyOptions::storeEscalation(names);
        if (names.isEmpty())
            std::printf("Nobody is escalated to beyond the recipients.\n");
        else
            std::printf("Escalated to, in order: %s.\n", qPrintable(names.join(QStringLiteral(", "))));
    }
}

// PINs, reset commands and the heartbeat of an existing Config.mdb.
void setModemOptions(const QStringList &pins, const QStringList &resets, const QStringList &heartbeats)
{
    for (const QString &text : pins) {
        const auto [port, value] = forModem(text);
        if (!ModemTable::isPin(value))
            fail(QStringLiteral("--pin wants [N:]PIN with a PIN of 4 to 8 digits, not \"%1\"").arg(text));
        ModemTable::setPin(port, value);
        std::printf("The SIM of the modem on COM%d has its PIN.\n", port);
    }
    for (const QString &text : resets) {
        const auto [port, value] = forModem(text);
        if (!value.isEmpty() && !ModemTable::isResetCommand(value))
            fail(QStringLiteral("--reset-command wants one AT command, not \"%1\"").arg(text));
        ModemTable::setResetCommand(port, value);
        std::printf("The modem on COM%d is reset with \"%s\".\n", port, qPrintable(value));
    }
    for (const QString &text : heartbeats) {
        const QTime at = QTime::fromString(text, QString::fromLatin1(Heartbeat::TimeFormat));
        if (!at.isValid() && text != QLatin1String("off"))
            fail(QStringLiteral("--heartbeat wants HH:MM or off, not \"%1\"").arg(text));
        Heartbeat::store(at);
        std::printf(at.isValid() ? "A heartbeat SMS goes daily at %s.\n" : "No heartbeat SMS.%s\n",
                    at.isValid() ? qPrintable(at.toString(QString::fromLatin1(Heartbeat::TimeFormat))) : "");
    }
}

// The options that make a new Config.mdb.
struct NewDatabase {
    QCommandLineOption port{QStringLiteral("port"), QStringLiteral("Serial port number (default 1)."),
                            QStringLiteral("N"), QStringLiteral("1")};
    QCommandLineOption baud{QStringLiteral("baud"), QStringLiteral("Baud rate (default 9600)."), QStringLiteral("RATE"),
                            QStringLiteral("9600")};
    QCommandLineOption dataBits{QStringLiteral("databits"), QStringLiteral("Data bits (default 8)."),
                                QStringLiteral("BITS"), QStringLiteral("8")};
    QCommandLineOption parity{QStringLiteral("parity"), QStringLiteral("Parity N, E or O (default N)."),
                              QStringLiteral("P"), QStringLiteral("N")};
    QCommandLineOption stopBits{QStringLiteral("stopbits"), QStringLiteral("Stop bits (default 1)."),
                                QStringLiteral("BITS"), QStringLiteral("1")};
    QCommandLineOption flow{QStringLiteral("flow"), QStringLiteral("Flow control (default None)."),
                            QStringLiteral("FLOW"), QStringLiteral("None")};
    QCommandLineOption account{QStringLiteral("account"),
                               QStringLiteral("A login account; rank 1 or 2 may log in (default rank 1). "
                                              "Repeat for more accounts."),
                               QStringLiteral("NAME:PASSWORD[:RANK]")};
    QCommandLineOption user{QStringLiteral("user"),
                            QStringLiteral("A user who receives alerts, on duty with \":on\". Repeatable."),
                            QStringLiteral("NAME:PHONE[:on]")};
    QCommandLineOption path{QStringLiteral("path"), QStringLiteral("A watched MT4 folder. Repeatable."),
                            QStringLiteral("FOLDER")};

    QList<QCommandLineOption> all() const
    {
        return {port, baud, dataBits, parity, stopBits, flow, account, user, path};
    }

    bool anySet(const QCommandLineParser &parser) const
    {
        const QList<QCommandLineOption> options = all();
        return std::any_of(options.cbegin(), options.cend(),
                           [&](const QCommandLineOption &option) { return parser.isSet(option); });
    }

    void create(const QCommandLineParser &parser) const
    {
        Schema::ComRow com;
        bool ok = false;
        com.port = parser.value(port).toInt(&ok);
        if (!ok || com.port < 1 || com.port > 32767)
            fail(QStringLiteral("--port wants a number from 1 up"));
        com.baud = parser.value(baud);
        com.dataBits = parser.value(dataBits);
        com.parity = parser.value(parity).left(1).toUpper();
        com.stopBit = parser.value(stopBits);
        com.flowControl = parser.value(flow);

        QList<Schema::AccountRow> accounts;
        for (const QString &text : parser.values(account))
            accounts << parseAccount(text);
        // Checked before anything is written, so that a refusal leaves no
        // half-made Config.mdb behind.
        for (const QString &text : parser.values(user)) {
            const QStringList parts = text.split(QLatin1Char(':'));
            if (parts.size() >= 2 && !PhoneNumber::isValid(parts[1]))
                fail(QStringLiteral("--user %1: \"%2\" is not a phone number (digits, with an optional + in front)")
                         .arg(parts[0], parts[1]));
        }
        try {
            Schema::create(Database::path(), com, accounts);
            addRows(parser.values(user), parser.values(path));
            // A desk made from now on hears from its traders' phones.
            DeskOptions::setValue(QString::fromLatin1(DeskOptions::DeliveryReports), QStringLiteral("on"));
            // ... and a robot in a loop does not bury the alert that matters.
            FloodOptions::storeCollapse(FloodOptions::NewDeskCollapseMinutes);
            FloodOptions::storePace({FloodOptions::NewDeskPaceCount, FloodOptions::NewDeskPaceMinutes});
            // ... and its traders can answer.
            ReplyOptions::storeReplies(true);
        } catch (const DbError &error) {
            fail(error.description());
        }
        std::printf("Created %s with %lld account(s).\n", qPrintable(Database::path()), qlonglong(accounts.size()));
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantrel-setup"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Creates a new Config.mdb for Vantrel in FOLDER (the folder of the vantrel program).\n"
                       "An existing Config.mdb is never overwritten; options that only set up the desk "
                       "(--autostart, --codepage, --add-modem, --pin, --reset-command, --heartbeat, "
                       "--delivery-reports, --gateway, --gateway-only, --gateway-reports, --gateway-incoming, "
                       "--metrics, --collapse, --pace, --replies, --escalate, --escalation) "
                       "leave the rest of it as it is."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("Folder that receives Config.mdb."));
    const NewDatabase database;
    parser.addOptions(database.all());
    const QCommandLineOption autostart(QStringLiteral("autostart"),
                                       QStringLiteral("Start FOLDER/vantrel with the desktop session "
                                                      "(~/.config/autostart/vantrel.desktop)."));
    const QCommandLineOption codePage(QStringLiteral("codepage"),
                                      QStringLiteral("Code page of alert files that are neither UTF-8 nor UTF-16, "
                                                     "e.g. windows-1251 (default Windows-1252)."),
                                      QStringLiteral("NAME"));
    const QCommandLineOption addModem(
        QStringLiteral("add-modem"),
        QStringLiteral("Adds a modem on port N (default baud 9600), beside the Com row's. "
                       "Repeatable."),
        QStringLiteral("N[:BAUD]"));
    const QCommandLineOption pin(QStringLiteral("pin"),
                                 QStringLiteral("The SIM PIN of the modem on port N (default: the COM page's modem), "
                                                "entered when the SIM asks for it."),
                                 QStringLiteral("[N:]PIN"));
    const QCommandLineOption resetCommand(QStringLiteral("reset-command"),
                                          QStringLiteral("The command that resets the modem on port N when it has "
                                                         "stopped answering, e.g. AT+CFUN=1,1 (default: none)."),
                                          QStringLiteral("[N:]COMMAND"));
    const QCommandLineOption heartbeat(QStringLiteral("heartbeat"),
                                       QStringLiteral("A daily SMS to the on-duty users at this time that Vantrel "
                                                      "is well; \"off\" for none."),
                                       QStringLiteral("HH:MM"));
    const QCommandLineOption deliveryReports(QStringLiteral("delivery-reports"),
                                             QStringLiteral("Whether every SMS asks the network for a delivery "
                                                            "report (a new Config.mdb: on)."),
                                             QStringLiteral("on|off"));
    const QCommandLineOption gateway(QStringLiteral("gateway"),
                                     QStringLiteral("A Kannel gateway's sendsms URL with its user, "
                                                    "http://HOST:PORT/cgi-bin/sendsms?username=U&password=P: SMS "
                                                    "may go through it beside the modems; \"off\" for none."),
                                     QStringLiteral("URL"));
    const QCommandLineOption gatewayOnly(QStringLiteral("gateway-only"),
                                         QStringLiteral("SMS go through the gateway alone; no modem is used."));
    const QCommandLineOption gatewayReports(QStringLiteral("gateway-reports"),
                                            QStringLiteral("Where the gateway sends delivery reports to: the "
                                                           "address Vantrel listens on (default 127.0.0.1:13080)."),
                                            QStringLiteral("[HOST:]PORT"));
    const QCommandLineOption gatewayIncoming(
        QStringLiteral("gateway-incoming"),
        QStringLiteral("SMS from phones are taken from the gateway (its sms-service get-url, printed) only with "
                       "this secret; empty for none, the default: every one is refused."),
        QStringLiteral("SECRET"));
    const QCommandLineOption metrics(QStringLiteral("metrics"),
                                     QStringLiteral("Serve Prometheus metrics at http://HOST:PORT/metrics (host "
                                                    "127.0.0.1 unless named; from the next start); \"off\" for "
                                                    "none, the default."),
                                     QStringLiteral("[HOST:]PORT"));
    const QCommandLineOption collapse(QStringLiteral("collapse"),
                                      QStringLiteral("An alert repeated within MINUTES of the first is counted, "
                                                     "and the count sent as one SMS when they end; 0 = off "
                                                     "(a new Config.mdb: 10)."),
                                      QStringLiteral("MINUTES"));
    const QCommandLineOption pace(QStringLiteral("pace"),
                                  QStringLiteral("At most N SMS to one phone in any MINUTES; more go as digests; "
                                                 "0 = off (a new Config.mdb: 10/10)."),
                                  QStringLiteral("N/MINUTES"));
    const QCommandLineOption replies(QStringLiteral("replies"),
                                     QStringLiteral("Whether the users' phones are heard: an SMS or a missed call "
                                                    "acknowledges, \"ON\"/\"OFF\" set duty (a new Config.mdb: on)."),
                                     QStringLiteral("on|off"));
    const QCommandLineOption escalate(QStringLiteral("escalate"),
                                      QStringLiteral("An alert nobody acknowledged within MINUTES is escalated: "
                                                     "calls, then the escalation list; 0 = off. Needs --replies on."),
                                      QStringLiteral("MINUTES"));
    const QCommandLineOption escalation(QStringLiteral("escalation"),
                                        QStringLiteral("Users escalated to, in order, one step each; empty for "
                                                       "none."),
                                        QStringLiteral("NAME[,NAME...]"));
    const QList<QCommandLineOption> deskOptions = {
        autostart,   codePage,       addModem,        pin,     resetCommand, heartbeat, deliveryReports, gateway,
        gatewayOnly, gatewayReports, gatewayIncoming, metrics, collapse,     pace,      replies,         escalate,
        escalation};
    parser.addOptions(deskOptions);
    parser.process(app);

    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    const QString folder = parser.positionalArguments().constFirst();
    if (!QDir(folder).exists())
        fail(QStringLiteral("folder %1 does not exist").arg(folder));
    ProgramFolder::set(folder);

    if (!QFileInfo::exists(Database::path()))
        database.create(parser);
    else if (database.anySet(parser) || std::none_of(deskOptions.cbegin(), deskOptions.cend(), [&](const auto &option) {
                 return parser.isSet(option);
             }))
        fail(QStringLiteral("%1 already exists; it is left as it is.").arg(Database::path()));

    for (const QString &text : parser.values(addModem)) {
        const QStringList parts = text.split(QLatin1Char(':'));
        bool ok = false;
        const int port = parts[0].toInt(&ok);
        const QString baud = parts.value(1, QStringLiteral("9600"));
        bool baudOk = false;
        baud.toInt(&baudOk);
        if (!ok || port < 1 || port > 32767 || parts.size() > 2 || !baudOk)
            fail(QStringLiteral("--add-modem wants N[:BAUD], not \"%1\"").arg(text));
        try {
            if (!ModemTable::add(short(port), baud))
                fail(QStringLiteral("the desk has a modem on COM%1 already").arg(port));
        } catch (const DbError &error) {
            fail(error.description());
        }
        std::printf("Modem added on COM%d at %s baud.\n", port, qPrintable(baud));
    }

    if (parser.isSet(codePage)) {
        const QString name = parser.value(codePage);
        if (!CodePage::known(name))
            fail(QStringLiteral("code page %1 is not known here").arg(name));
        try {
            CodePage::save(name);
        } catch (const DbError &error) {
            fail(error.description());
        }
        std::printf("Alert files that are not UTF-8 are read as %s.\n", qPrintable(name));
    }

    if (parser.isSet(pin) || parser.isSet(resetCommand) || parser.isSet(heartbeat)) {
        try {
            setModemOptions(parser.values(pin), parser.values(resetCommand), parser.values(heartbeat));
        } catch (const DbError &error) {
            fail(error.description());
        }
    }

    if (parser.isSet(deliveryReports)) {
        try {
            setDeliveryReports(parser.value(deliveryReports));
        } catch (const DbError &error) {
            fail(error.description());
        }
    }

    if (parser.isSet(gateway) || parser.isSet(gatewayOnly) || parser.isSet(gatewayReports)) {
        try {
            setGateway(parser, gateway, gatewayOnly, gatewayReports);
        } catch (const DbError &error) {
            fail(error.description());
        }
    }

    if (parser.isSet(gatewayIncoming)) {
        try {
            setGatewayIncoming(parser.value(gatewayIncoming));
        } catch (const DbError &error) {
            fail(error.description());
        }
    }

    if (parser.isSet(metrics)) {
        try {
            setMetrics(parser.value(metrics));
        } catch (const DbError &error) {
            fail(error.description());
        }
    }

    if (parser.isSet(collapse) || parser.isSet(pace)) {
        try {
            setFloodOptions(parser, collapse, pace);
        } catch (const DbError &error) {
            fail(error.description());
        }
    }

    if (parser.isSet(replies) || parser.isSet(escalate) || parser.isSet(escalation)) {
        try {
            setReplyOptions(parser, replies, escalate, escalation);
        } catch (const DbError &error) {
            fail(error.description());
        }
    }

    if (parser.isSet(autostart)) {
        QString error;
        const QString entry = Autostart::install(folder, &error);
        if (entry.isEmpty())
            fail(error);
        std::printf("Vantrel starts with the desktop session: %s\n", qPrintable(entry));
    }
    return 0;
}
