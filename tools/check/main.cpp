// vantrel-check: how the relay of a program folder stands, told the way
// Nagios, Icinga and their kin take it from a check: one line and an exit
// code.

#include "tools/check/StatusCheck.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cstdio>

namespace {

// The status is a few hundred bytes; anything much larger is not one.
constexpr qint64 MaxStatusBytes = 1 << 20;

const char Help[] = R"(Usage: vantrel-check FOLDER [--waiting-warn SECONDS]

Tells how the Vantrel relay whose program folder is FOLDER stands, as a
Nagios or Icinga check: it reads FOLDER/Status.json, which the running
program rewrites on every change and at least once a minute, prints one line
and ends with the state's exit code:

  VANTREL OK - 2 of 2 modems up, 0 waiting | waiting=0 retrying=0 ...

0 OK        every modem and the gateway up (or taken out of service on
            purpose), nothing given up or undelivered in the last 24 hours,
            no alert waiting too long.
1 WARNING   a modem or the gateway is down or set aside; SMS were given up
            or reported not delivered in the last 24 hours; an alert had
            waited longer than --waiting-warn SECONDS (default 300) to go
            out when the status was written.
2 CRITICAL  no route can send (no modem and no gateway up); Status.json is
            older than 180 seconds, by the time it says it was written or
            else by the file's time (the relay is not running); Status.json
            is missing.
3 UNKNOWN   Status.json cannot be read or is damaged; FOLDER is no folder;
            bad arguments.

The text names every cause found, the worst first, then sums up the routes
and what waits. The figures after "|", in the plugin form
label=value[unit];warn;crit;min;max:

  waiting            SMS not tried yet
  retrying           SMS waiting for their next try after a failure
  given_up_24h       SMS given up in the last 24 hours (warning above 0)
  not_delivered_24h  SMS the network reported not delivered in the last
                     24 hours (warning above 0)
  unconfirmed        SMS sent whose delivery report has not come yet
  oldest_waiting     seconds the oldest alert still to go out had waited
                     (warning above --waiting-warn)
  modems_up          modems up, of all the desk's modems
  gateway_up         1 while the gateway is up, else 0 (with a gateway only)
  comN_signal_dbm    the signal of the modem on COM N in dBm; U where it
                     did not say
  status_age         seconds since the status was written (critical
                     above 180)

A stale status gives status_age alone, as the rest is no longer so.

Options:
  --waiting-warn SECONDS  how long an alert may wait to go out (300)
  -h, --help              this text
  -V, --version           the version
)";

int say(const StatusCheck::Result &result)
{
    std::fputs((result.line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    return result.state;
}

StatusCheck::Result badArguments(const QString &why)
{
    return StatusCheck::plain(StatusCheck::Unknown, why + QStringLiteral("; see vantrel-check --help"));
}

StatusCheck::Result checkFolder(const QString &folder, const StatusCheck &check)
{
    if (!QFileInfo(folder).isDir())
        return StatusCheck::plain(StatusCheck::Unknown, QStringLiteral("no folder %1").arg(folder));
    QFile file(QDir(folder).filePath(QStringLiteral("Status.json")));
    if (!file.exists()) {
        return StatusCheck::plain(StatusCheck::Critical,
                                  QStringLiteral("no Status.json in %1 (the relay is not running?)").arg(folder));
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return StatusCheck::plain(StatusCheck::Unknown,
                                  QStringLiteral("Status.json cannot be read: %1").arg(file.errorString()));
    }
    const QByteArray bytes = file.read(MaxStatusBytes + 1);
    if (bytes.size() > MaxStatusBytes)
        return StatusCheck::plain(StatusCheck::Unknown, QStringLiteral("Status.json is damaged: it is too large"));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        return StatusCheck::plain(
            StatusCheck::Unknown,
            QStringLiteral("Status.json is damaged: %1 at byte %2").arg(error.errorString()).arg(error.offset));
    }
    if (!document.isObject())
        return StatusCheck::plain(StatusCheck::Unknown, QStringLiteral("Status.json is damaged: it is no object"));
    return check.check(document.object(), QFileInfo(file).lastModified().toUTC(), QDateTime::currentDateTimeUtc());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption waitingWarn(QStringLiteral("waiting-warn"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")}, QString());
    parser.addOptions({waitingWarn, help, version});
    if (!parser.parse(QCoreApplication::arguments()))
        return say(badArguments(parser.errorText()));
    if (parser.isSet(help)) {
        std::fputs(Help, stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::fputs("vantrel-check " VANTREL_VERSION "\n", stdout);
        return 0;
    }
    const QStringList folders = parser.positionalArguments();
    if (folders.size() != 1)
        return say(badArguments(QStringLiteral("one program folder, please")));
    qint64 waitingWarnSecs = StatusCheck::DefaultWaitingWarnSecs;
    if (parser.isSet(waitingWarn)) {
        bool number = false;
        waitingWarnSecs = parser.value(waitingWarn).toLongLong(&number);
        if (!number || waitingWarnSecs < 0) {
            return say(badArguments(
                QStringLiteral("--waiting-warn wants a number of seconds, not \"%1\"").arg(parser.value(waitingWarn))));
        }
    }
    return say(checkFolder(folders.first(), StatusCheck(waitingWarnSecs)));
}
