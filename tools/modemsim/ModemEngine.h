#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QRandomGenerator>
#include <QSet>

// A GSM modem in text mode as a pure state machine: feed() takes the bytes
// the program wrote and returns the bytes the modem answers. It does no I/O
// and keeps no timers, so every answer can be checked byte for byte; the
// pseudo-terminal host adds the line, the delays and the hang-ups.
class ModemEngine : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        bool echo = true;
        QByteArray serial = "356938035643809";
        QSet<QByteArray> rejected;   // numbers refused after Ctrl-Z
        double rejectRate = 0;       // fraction of the other messages refused
        int cmsCode = 500;           // code of +CMS ERROR for a refusal
        bool refuseTextMode = false; // AT+CMGF=1 answers ERROR
        bool lowercase = false;      // "ok" / "error", as some broken modems do
        bool silent = false;         // a dead modem: no echo, no reply
        double silentRate = 0;       // fraction of commands ignored entirely
        int hangupAfter = 0;         // drop the line after every N accepted messages
        double hangupRate = 0;       // fraction of message entries broken off
        quint32 seed = 1;
    };

    static constexpr qsizetype MaxCommandLength = 4096;
    static constexpr qsizetype MaxTextLength = 64 * 1024;

    ModemEngine();
    explicit ModemEngine(const Options &options, QObject *parent = nullptr);

    QByteArray feed(QByteArrayView input);

    // True once the modem has dropped the line: input is ignored until
    // powerOn(), which the host calls when it offers a fresh line.
    bool lineDropped() const { return m_dropped; }
    void powerOn();

    // Bytes held between calls, which garbage input must not make grow.
    qsizetype bufferedBytes() const { return m_line.size() + m_text.size(); }

    // Backslash escapes for the record file and the log: printable ASCII
    // stays, everything else becomes \\ \n \r \t or \xHH.
    static QByteArray escape(QByteArrayView bytes);

signals:
    void accepted(const QByteArray &number, const QByteArray &text, int reference);
    void refused(const QByteArray &number, const QByteArray &reason);
    // One short line per command or message, for a person watching.
    void logged(const QString &line);

private:
    enum class State { Command, Ignoring, Text };

    void commandByte(char c, QByteArray &out);
    void textByte(char c, QByteArray &out);
    QByteArray execute(const QByteArray &line);
    QByteArray startMessage(const QByteArray &argument);
    QByteArray submit();
    QByteArray result(QByteArray code) const;
    void say(const QByteArray &command, const QByteArray &reply);
    bool chance(double p);

    const Options m_options;
    QRandomGenerator m_random;
    State m_state = State::Command;
    bool m_echo = true;
    bool m_textMode = false; // a modem wakes up in PDU mode
    bool m_dropped = false;
    QByteArray m_line;
    bool m_lineTooLong = false;
    QByteArray m_number;
    QByteArray m_text;
    bool m_textTooLong = false;
    qsizetype m_dropAt = -1; // text length at which this entry hangs up
    int m_reference = 0;
    int m_acceptedCount = 0;
};
