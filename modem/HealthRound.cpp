#include "modem/HealthRound.h"

#include "modem/ModemLine.h"

#include <QPointer>
#include <QRegularExpression>

namespace {

// The value after "+XXXX: " in a reply, up to the line's end.
QString infoLine(const QString &reply, const QString &prefix)
{
    const QRegularExpression line(QRegularExpression::escape(prefix) + QStringLiteral(R"(\s*([^\r\n]*))"));
    const QRegularExpressionMatch match = line.match(reply);
    return match.hasMatch() ? match.captured(1).trimmed() : QString();
}

// +CME ERROR codes of TS 27.007 9.2.1 that say where the SIM stands.
constexpr int SimNotInserted = 10;
constexpr int SimFailure = 13;
constexpr int IncorrectPassword = 16;

int cmeError(const QString &failure)
{
    static const QRegularExpression cme(QStringLiteral(R"(^\+CME ERROR:\s*(\d+))"));
    const QRegularExpressionMatch match = cme.match(failure);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The SIM's no to a PIN, as AT+CMEE has the modem say it: the code, its
// words, or a bare ERROR (a modem that took no AT+CMEE=1). A time-out is no
// refusal: the PIN may not have reached the SIM.
bool refusesPin(const ModemAnswer &answer)
{
    if (answer.given || answer.timedOut)
        return false;
    const QString failure = answer.failure.trimmed();
    return cmeError(failure) == IncorrectPassword
           || failure.compare(QLatin1String("+CME ERROR: incorrect password"), Qt::CaseInsensitive) == 0
           || failure.compare(QLatin1String("ERROR"), Qt::CaseInsensitive) == 0;
}

} // namespace

std::optional<int> ModemHealth::signalDbm() const
{
    if (rssi < 0 || rssi > 31)
        return std::nullopt;
    return -113 + 2 * rssi;
}

HealthRound::HealthRound(ModemLine &line, const QString &pin, const QString &refusedPin, QObject *parent)
    : QObject(parent)
    , m_line(line)
    , m_pin(pin)
    , m_refusedPin(refusedPin)
{
}

void HealthRound::start(std::function<void(const ModemHealth &)> done)
{
    m_done = std::move(done);
    m_health = ModemHealth();
    m_pinEntered = false;
    ask(QStringLiteral("AT+CPIN?"), QStringLiteral("+CPIN:"), &HealthRound::simAnswered);
}

void HealthRound::ask(const QString &command, const QString &own, void (HealthRound::*next)(const ModemAnswer &))
{
    ModemCommand question = ModemCommand::query(command, own);
    question.before = ModemCommand::clearPrompt();
    const QPointer<HealthRound> round(this);
    m_line.ask(question, [round, next](const ModemAnswer &answer) {
        if (!round || !round->m_done)
            return;
        // A port that would not open, or went away: nothing more to ask.
        if (answer.portError != 0) {
            round->m_health.portError = answer.failure;
            round->m_health.portErrorNumber = answer.portError;
            round->finish();
            return;
        }
        round->heard(answer);
        (round->*next)(answer);
    });
}

void HealthRound::heard(const ModemAnswer &answer)
{
    if (!answer.timedOut)
        m_health.answered = true;
}

void HealthRound::simAnswered(const ModemAnswer &answer)
{
    const QString state = infoLine(answer.reply, QStringLiteral("+CPIN:"));
    const int error = cmeError(answer.failure);
    if (answer.given && state == QLatin1String("READY"))
        m_health.sim = ModemHealth::Sim::Ready;
    else if (answer.given && state == QLatin1String("SIM PIN"))
        m_health.sim = ModemHealth::Sim::PinRequired;
    else if (answer.given && state == QLatin1String("SIM PUK"))
        m_health.sim = ModemHealth::Sim::PukRequired;
    else if (error == SimNotInserted || error == SimFailure)
        m_health.sim = ModemHealth::Sim::Missing;

    // The PIN is entered once each time the SIM asks, and a PIN the SIM
    // refused never again: three wrong tries lock it.
    if (m_health.sim == ModemHealth::Sim::PinRequired && !m_pinEntered && !m_pin.isEmpty() && m_pin != m_refusedPin) {
        m_pinEntered = true;
        ask(QStringLiteral("AT+CPIN=") + m_pin, {}, &HealthRound::pinAnswered);
        return;
    }
    if (m_health.sim == ModemHealth::Sim::PinRequired && !m_pin.isEmpty() && m_pin == m_refusedPin)
        m_health.sim = ModemHealth::Sim::PinRefused;
    ask(QStringLiteral("AT+CREG?"), QStringLiteral("+CREG:"), &HealthRound::registrationAnswered);
}

void HealthRound::pinAnswered(const ModemAnswer &answer)
{
    if (refusesPin(answer)) {
        m_refusedPin = m_pin;
        emit pinRefused(m_pin);
        m_health.sim = ModemHealth::Sim::PinRefused;
        ask(QStringLiteral("AT+CREG?"), QStringLiteral("+CREG:"), &HealthRound::registrationAnswered);
        return;
    }
    // Where the SIM stands now.
    ask(QStringLiteral("AT+CPIN?"), QStringLiteral("+CPIN:"), &HealthRound::simAnswered);
}

void HealthRound::registrationAnswered(const ModemAnswer &answer)
{
    // "+CREG: <n>,<stat>[,<lac>,<ci>]"
    const QStringList fields = infoLine(answer.reply, QStringLiteral("+CREG:")).split(QLatin1Char(','));
    bool isNumber = false;
    const int stat = fields.value(1).trimmed().toInt(&isNumber);
    if (answer.given && isNumber)
        m_health.registration = stat;
    ask(QStringLiteral("AT+CSQ"), QStringLiteral("+CSQ:"), &HealthRound::signalAnswered);
}

void HealthRound::signalAnswered(const ModemAnswer &answer)
{
    // "+CSQ: <rssi>,<ber>"
    bool isNumber = false;
    const int rssi = infoLine(answer.reply, QStringLiteral("+CSQ:")).section(QLatin1Char(','), 0, 0).toInt(&isNumber);
    if (answer.given && isNumber)
        m_health.rssi = rssi;
    ask(QStringLiteral("AT+COPS?"), QStringLiteral("+COPS:"), &HealthRound::operatorAnswered);
}

void HealthRound::operatorAnswered(const ModemAnswer &answer)
{
    // "+COPS: <mode>[,<format>,"<name>"]"
    static const QRegularExpression name(QStringLiteral("\"([^\"]*)\""));
    const QRegularExpressionMatch match = name.match(infoLine(answer.reply, QStringLiteral("+COPS:")));
    if (answer.given && match.hasMatch())
        m_health.operatorName = match.captured(1);
    finish();
}

void HealthRound::finish()
{
    const auto done = std::exchange(m_done, {});
    done(m_health);
}
