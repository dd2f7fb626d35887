#pragma once

#include <QString>
#include <QStringList>

// One command of a dialogue with a modem, and what ends its wait.
struct ModemCommand {
    enum class Expect {
        // `expected` anywhere in what the modem said after its echo ("OK",
        // or the ">" of a message entry); a final error result ends the
        // wait as a refusal.
        Reply,
        // A message text ended by Ctrl-Z: "+CMGS: n" and then "OK". A bare
        // "OK" is how a modem answers a cancelled message: a refusal.
        MessageSent,
        // "OK" anywhere in one arrival, each arrival looked at on its own;
        // nothing else ends the wait (the modem test).
        OkInOneArrival,
        // Nothing is written: the wait runs its time, unless one of
        // `finalLines` comes first (a call that ends while it is followed).
        Pause,
    };

    QString text;   // written as it is, then a CR
    QString before; // written just before it, no answer awaited (the ESC that clears a prompt left open)
    Expect expect = Expect::Reply;
    QString expected = QStringLiteral("OK");
    // How long the modem has to answer, in time-out units of the engine
    // (a ten-thousandth of a day each) ...
    int units = 1;
    // ... or, where set, in milliseconds at the default unit, scaled as the
    // units are ...
    int scaledMs = 0;
    // ... or, where set, in milliseconds that no scaling changes.
    int fixedMs = 0;
    // Lines beginning "+C" that answer this command ("+CMGS:", "+CSQ:");
    // any other such line arrives on the modem's own account.
    QStringList ownLines;
    // Lines that end the wait as a refusal, as a final error does ("BUSY",
    // "NO CARRIER" while a call is under way).
    QStringList finalLines;

    static ModemCommand reply(const QString &text, const QString &expected = QStringLiteral("OK"))
    {
        ModemCommand command;
        command.text = text;
        command.expected = expected;
        return command;
    }

    // ESC: a dialogue cut short (the program killed while the modem waited
    // for a message text) may have left the modem at its prompt, where what
    // is written next would become message text. ESC cancels that message;
    // a modem in command state ignores it.
    static QString clearPrompt() { return QString(QChar(0x1B)); }

    // A question whose answer ends with its final result code on a line of
    // its own, so that an answer that holds "OK" (an operator so called)
    // cannot end it early; `ownLine` begins the lines that answer it.
    static ModemCommand query(const QString &text, const QString &ownLine)
    {
        ModemCommand command = reply(text, QStringLiteral("\r\nOK\r\n"));
        if (!ownLine.isEmpty())
            command.ownLines = {ownLine};
        return command;
    }

    // A wait of `ms` (not scaled again) that `lines` cut short.
    static ModemCommand pause(int ms, const QStringList &lines)
    {
        ModemCommand command;
        command.expect = Expect::Pause;
        command.fixedMs = qMax(ms, 1);
        command.finalLines = lines;
        return command;
    }

    // A message text or PDU after the prompt: Ctrl-Z ends it. Its answer
    // waits for the network, which takes far longer than the modem itself
    // when it is busy.
    static constexpr int MessageWaitMs = 60000;
    static ModemCommand message(const QString &text)
    {
        ModemCommand command;
        command.text = text + QChar(0x1A);
        command.expect = Expect::MessageSent;
        command.scaledMs = MessageWaitMs;
        command.ownLines = {QStringLiteral("+CMGS:")};
        return command;
    }
};

// How the wait for one command ended.
struct ModemAnswer {
    bool given = false;    // the awaited reply came
    bool timedOut = false; // nothing that ended the wait came in time
    QString failure;       // why not given, in words for the page log
    QString reply;         // what the modem said after its echo, its own lines left out
    int portError = 0;     // 8000 to 8020: the port would not open or went away; nothing was answered
};
