#pragma once

#include "PartCollector.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QRandomGenerator>
#include <QSet>
#include <QString>

// A GSM modem in text and PDU mode as a pure state machine: feed() takes the
// bytes the program wrote and returns the bytes the modem answers. It does no
// I/O and keeps no timers (it reads a clock for rejectedFor alone), so every
// answer can be checked byte for byte; the pseudo-terminal host adds the
// line, the delays and the hang-ups.
class ModemEngine : public QObject
{
    Q_OBJECT

public:
    struct Options {
        bool echo = true;
        QByteArray serial = "356938035643809";
        QSet<QByteArray> rejected = {};          // numbers refused after Ctrl-Z
        double rejectRate = 0;                   // fraction of the other messages refused
        int cmsCode = 500;                       // code of +CMS ERROR for a refusal
        bool refuseTextMode = false;             // AT+CMGF=1 answers ERROR
        bool refusePduMode = false;              // AT+CMGF=0 answers ERROR: a modem without PDU mode
        QHash<QByteArray, int> rejectedFor = {}; // number -> refused this many ms after start
        bool bareOk = false;                     // answer a message with a bare OK and send nothing
        int rejectPart = 0;                      // refuse this part of a concatenated message once
        bool lowercase = false;                  // "ok" / "error", as some broken modems do
        bool silent = false;                     // a dead modem: no echo, no reply
        double silentRate = 0;                   // fraction of commands ignored entirely
        int hangupAfter = 0;                     // drop the line after every N accepted messages
        double hangupRate = 0;                   // fraction of message entries broken off
        quint32 seed = 1;
    };

    static constexpr qsizetype MaxCommandLength = 4096;
    static constexpr qsizetype MaxTextLength = 64 * 1024;
    // In text mode the modem takes at most one SMS; longer texts need PDU mode.
    static constexpr qsizetype MaxSmsLength = 160;
    // +CMS ERROR for a PDU that does not decode or has another length than announced.
    static constexpr int InvalidPduCode = 304;

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
    // A message taken in text mode, its text byte for byte.
    void accepted(const QByteArray &number, const QByteArray &text, int reference);
    // A message taken in PDU mode, once all its parts are in (each part was
    // answered +CMGS on its own).
    void acceptedPdu(const QByteArray &number, const QString &text, int parts);
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
    QByteArray submitText();
    QByteArray submitPdu();
    QByteArray refusalFor(const QByteArray &number);
    QByteArray refuse(const QByteArray &what, const QByteArray &number, const QByteArray &reason, int code);
    QByteArray answerBare(const QByteArray &what);
    int nextReference();
    QByteArray acknowledge(const QByteArray &what, int reference);
    QByteArray entryName() const;
    QByteArray result(const QByteArray &code) const;
    void say(const QByteArray &command, const QByteArray &reply);
    bool chance(double p);

    const Options m_options;
    QRandomGenerator m_random;
    QElapsedTimer m_sinceStart;
    State m_state = State::Command;
    bool m_echo = true;
    bool m_textMode = false; // a modem wakes up in PDU mode
    bool m_dropped = false;
    QByteArray m_line;
    bool m_lineTooLong = false;
    QByteArray m_number;
    int m_pduLength = -1; // the TPDU length AT+CMGS announced; -1 for a text-mode entry
    QByteArray m_text;    // in PDU mode: the hex
    bool m_textTooLong = false;
    qsizetype m_dropAt = -1; // text length at which this entry hangs up
    int m_reference = 0;
    int m_acceptedCount = 0;
    PartCollector m_parts;
    QSet<QString> m_partsRefusedOnce; // number/reference/part, refused once already
};
