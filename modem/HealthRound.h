#pragma once

#include "modem/ModemCommand.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class ModemLine;

// What a health round found out about a modem.
struct ModemHealth {
    enum class Sim { Unknown, Ready, PinRequired, PinRefused, PukRequired, Missing };

    bool answered = false;   // the modem answered at least one of the questions
    QString portError;       // the port would not open, or went away; then nothing was asked
    int portErrorNumber = 0; // 8000 to 8020
    Sim sim = Sim::Unknown;
    int registration = -1; // +CREG <stat>: 0 not searching, 1 home, 2 searching, 3 denied, 5 roaming
    int rssi = -1;         // +CSQ <rssi>: 0 to 31, 99 not known
    QString operatorName;

    // The signal in dBm (TS 27.007: -113 + 2 rssi), where the modem said.
    std::optional<int> signalDbm() const;
};

// One health round on a modem's line: "AT+CPIN?", and the PIN where the SIM
// asks for it and one is set (never one it refused before), "AT+CREG?",
// "AT+CSQ", "AT+COPS?". Each question is a job of its own on the engine, so
// that an SMS asked for meanwhile waits for the question under way only,
// never for the whole round, and never shares a dialogue with it. A modem
// that answers ERROR to a question is not down for that.
class HealthRound : public QObject
{
    Q_OBJECT

public:
    HealthRound(ModemLine &line, const QString &pin, const QString &refusedPin, QObject *parent = nullptr);

    void start(std::function<void(const ModemHealth &)> done);
    bool running() const { return bool(m_done); }

signals:
    // The SIM refused the PIN this round entered; it is not to be entered again.
    void pinRefused(const QString &pin);

private:
    void ask(const QString &command, const QString &own, void (HealthRound::*next)(const ModemAnswer &));
    void simAnswered(const ModemAnswer &answer);
    void pinAnswered(const ModemAnswer &answer);
    void registrationAnswered(const ModemAnswer &answer);
    void signalAnswered(const ModemAnswer &answer);
    void operatorAnswered(const ModemAnswer &answer);
    void heard(const ModemAnswer &answer);
    void finish();

    ModemLine &m_line;
    QString m_pin;
    QString m_refusedPin;
    bool m_pinEntered = false;
    ModemHealth m_health;
    std::function<void(const ModemHealth &)> m_done;
};
