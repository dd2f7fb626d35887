#include "tools/check/StatusCheck.h"

#include <QJsonArray>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// A gateway's error may be a whole page of HTML.
constexpr qsizetype MaxReasonChars = 100;

// Why a status cannot be trusted.
struct Damaged {
    QString what;
};

// A route as the status tells it.
struct Route {
    QString name;  // "modem COM1", "gateway"
    QString port;  // of a modem: "COM1"
    QString label; // of its figures: "com1"
    QString state; // "up", "down", "set aside", "out of service"
    QString reason;
    std::optional<int> signalDbm;
};

// Text goes on the plugin's one line and never among its figures: whatever
// the file or the command line holds, no line end and no "|" gets through.
QString oneLine(const QString &text)
{
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('|'))
            line += QLatin1Char('/');
        else
            line += c.isPrint() ? c : QLatin1Char(' ');
    }
    return line.simplified();
}

QString clipped(const QString &text)
{
    const QString line = oneLine(text);
    return line.size() <= MaxReasonChars ? line : line.left(MaxReasonChars - 3) + QStringLiteral("...");
}

// A figure as the plugin rules write it, label=value[UOM];warn;crit;min;max,
// with the empty fields at the end left out.
QString figure(const QString &label, const QString &value, QStringList limits = {})
{
    while (!limits.isEmpty() && limits.last().isEmpty())
        limits.removeLast();
    const QString name = label.contains(QLatin1Char(' ')) ? QLatin1Char('\'') + label + QLatin1Char('\'') : label;
    limits.prepend(name + QLatin1Char('=') + value);
    return limits.join(QLatin1Char(';'));
}

QString figure(const QString &label, qint64 value, QStringList limits = {})
{
    return figure(label, QString::number(value), std::move(limits));
}

// A count the file must hold (or may, where not `required`).
std::optional<qint64> countOf(const QJsonObject &object, const char *key, bool required)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || (!required && value.isNull())) {
        if (required)
            throw Damaged{QStringLiteral("it has no \"%1\"").arg(QLatin1String(key))};
        return std::nullopt;
    }
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number != std::floor(number) || number > 1e15)
        throw Damaged{QStringLiteral("\"%1\" is not a count").arg(QLatin1String(key))};
    return qint64(number);
}

std::optional<QDateTime> timeOf(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    const QDateTime moment = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (!moment.isValid())
        throw Damaged{QStringLiteral("\"%1\" is not a time").arg(QLatin1String(key))};
    return moment;
}

QString textOf(const QJsonObject &object, const char *key, const QString &of)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return {};
    if (!value.isString())
        throw Damaged{QStringLiteral("the %1's \"%2\" is not text").arg(of, QLatin1String(key))};
    return value.toString();
}

Route routeOf(const QJsonValue &value, bool modem)
{
    const QString of = modem ? QStringLiteral("modem") : QStringLiteral("gateway");
    if (!value.isObject())
        throw Damaged{QStringLiteral("a %1 is not an object").arg(of)};
    const QJsonObject object = value.toObject();
    Route route;
    if (modem) {
        const qint64 port = *countOf(object, "port", true);
        route.port = QStringLiteral("COM%1").arg(port);
        route.name = QStringLiteral("modem ") + route.port;
        route.label = route.port.toLower();
        const QJsonValue signal = object.value(QLatin1String("signal_dbm"));
        if (signal.isDouble())
            route.signalDbm = signal.toInt();
        else if (!signal.isUndefined() && !signal.isNull())
            throw Damaged{QStringLiteral("the signal of %1 is not a number").arg(route.name)};
    } else {
        route.name = QStringLiteral("gateway");
    }
    route.state = clipped(textOf(object, "state", of));
    if (route.state.isEmpty())
        throw Damaged{QStringLiteral("the %1 has no state").arg(of)};
    route.reason = clipped(textOf(object, "reason", of));
    return route;
}

bool up(const Route &route)
{
    return route.state == QLatin1String("up");
}

// Taken out by the desk on purpose: nothing to warn of, but it sends nothing.
bool outOfService(const Route &route)
{
    return route.state == QLatin1String("out of service");
}

QString pluginLine(StatusCheck::State state, const QString &text, const QStringList &figures)
{
    return QStringLiteral("VANTREL %1 - %2").arg(StatusCheck::stateName(state), text)
           + (figures.isEmpty() ? QString() : QStringLiteral(" | ") + figures.join(QLatin1Char(' ')));
}

} // namespace

StatusCheck::StatusCheck(qint64 waitingWarnSecs)
    : m_waitingWarnSecs(waitingWarnSecs)
{
}

StatusCheck::Result StatusCheck::check(const QJsonObject &status, const QDateTime &modified, const QDateTime &now) const
{
    QList<Route> modems;
    std::optional<Route> gateway;
    qint64 waiting = 0;
    qint64 retrying = 0;
    qint64 givenUp = 0;
    std::optional<qint64> notDelivered;
    std::optional<qint64> unconfirmed;
    std::optional<QDateTime> oldestWaiting;
    bool toldWaiting = false;
    QDateTime written = modified;
    try {
        const QJsonValue list = status.value(QLatin1String("modems"));
        if (!list.isArray())
            throw Damaged{QStringLiteral("it has no list of \"modems\"")};
        for (const QJsonValue modem : list.toArray())
            modems << routeOf(modem, true);
        const QJsonValue gatewayValue = status.value(QLatin1String("gateway"));
        if (!gatewayValue.isUndefined() && !gatewayValue.isNull())
            gateway = routeOf(gatewayValue, false);
        waiting = *countOf(status, "waiting", true);
        retrying = *countOf(status, "retrying", true);
        givenUp = *countOf(status, "given_up_24h", true);
        // Younger than the rest: a status without them tells nothing of them.
        notDelivered = countOf(status, "not_delivered_24h", false);
        unconfirmed = countOf(status, "unconfirmed", false);
        oldestWaiting = timeOf(status, "oldest_waiting");
        toldWaiting = status.contains(QLatin1String("oldest_waiting"));
        written = timeOf(status, "updated").value_or(modified);
    } catch (const Damaged &damaged) {
        return plain(Unknown, QStringLiteral("Status.json is damaged: %1").arg(damaged.what));
    }

    // A clock a little ahead of ours is no reason to doubt the file.
    const qint64 age = std::max<qint64>(0, written.secsTo(now));
    const QString ageFigure = figure(QStringLiteral("status_age"), QString::number(age) + QLatin1Char('s'),
                                     {QString(), QString::number(StaleSecs)});
    // What an old status says is no longer so: the time alone.
    if (age > StaleSecs) {
        return {Critical,
                pluginLine(Critical, QStringLiteral("status is %1 s old (the relay is not running?)").arg(age),
                           {ageFigure})};
    }

    QList<Route> routes = modems;
    if (gateway)
        routes << *gateway;
    QStringList critical;
    QStringList warning;
    if (std::none_of(routes.cbegin(), routes.cend(), up))
        critical << QStringLiteral("no route can send");
    for (const Route &route : std::as_const(routes)) {
        if (!up(route) && !outOfService(route)) {
            warning << QStringLiteral("%1 %2").arg(route.name, route.state)
                           + (route.reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(route.reason));
        }
    }
    if (givenUp > 0)
        warning << QStringLiteral("%1 SMS given up in the last 24 h").arg(givenUp);
    if (notDelivered.value_or(0) > 0)
        warning << QStringLiteral("%1 SMS not delivered in the last 24 h").arg(*notDelivered);
    // As long as it had waited when the status was written, which is what
    // the file knows.
    const qint64 waited = oldestWaiting ? std::max<qint64>(0, oldestWaiting->secsTo(written)) : 0;
    if (waited > m_waitingWarnSecs)
        warning << QStringLiteral("an alert has waited %1 s to go out").arg(waited);

    QStringList summary;
    const qint64 modemsUp = std::count_if(modems.cbegin(), modems.cend(), up);
    if (!modems.isEmpty() || !gateway) {
        QStringList aside;
        for (const Route &modem : std::as_const(modems)) {
            if (outOfService(modem))
                aside << modem.port;
        }
        summary << QStringLiteral("%1 of %2 modems up").arg(modemsUp).arg(modems.size())
                       + (aside.isEmpty()
                              ? QString()
                              : QStringLiteral(" (%1 out of service)").arg(aside.join(QStringLiteral(", "))));
    }
    if (gateway)
        summary << QStringLiteral("gateway %1").arg(gateway->state);
    summary << QStringLiteral("%1 waiting").arg(waiting);
    if (retrying > 0)
        summary << QStringLiteral("%1 retrying").arg(retrying);

    const State state = !critical.isEmpty() ? Critical : !warning.isEmpty() ? Warning : Ok;
    const QString said =
        (critical + warning + QStringList{summary.join(QStringLiteral(", "))}).join(QStringLiteral("; "));

    QStringList figures{figure(QStringLiteral("waiting"), waiting), figure(QStringLiteral("retrying"), retrying),
                        figure(QStringLiteral("given_up_24h"), givenUp, {QStringLiteral("0")})};
    if (notDelivered)
        figures << figure(QStringLiteral("not_delivered_24h"), *notDelivered, {QStringLiteral("0")});
    if (unconfirmed)
        figures << figure(QStringLiteral("unconfirmed"), *unconfirmed);
    if (toldWaiting)
        figures << figure(QStringLiteral("oldest_waiting"), QString::number(waited) + QLatin1Char('s'),
                          {QString::number(m_waitingWarnSecs)});
    figures << figure(QStringLiteral("modems_up"), modemsUp,
                      {QString(), QString(), QStringLiteral("0"), QString::number(modems.size())});
    if (gateway)
        figures << figure(QStringLiteral("gateway_up"), up(*gateway) ? 1 : 0,
                          {QString(), QString(), QStringLiteral("0"), QStringLiteral("1")});
    for (const Route &modem : std::as_const(modems)) {
        // "U": the modem did not say, which the rules tell apart from a value.
        figures << figure(modem.label + QStringLiteral("_signal_dbm"),
                          modem.signalDbm ? QString::number(*modem.signalDbm) : QStringLiteral("U"));
    }
    figures << ageFigure;
    return {state, pluginLine(state, said, figures)};
}

StatusCheck::Result StatusCheck::plain(State state, const QString &text)
{
    return {state, pluginLine(state, oneLine(text), {})};
}

QString StatusCheck::stateName(State state)
{
    switch (state) {
    case Ok:
        return QStringLiteral("OK");
    case Warning:
        return QStringLiteral("WARNING");
    case Critical:
        return QStringLiteral("CRITICAL");
    case Unknown:
        break;
    }
    return QStringLiteral("UNKNOWN");
}
