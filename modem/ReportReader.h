#pragma once

#include "modem/DeliveryReport.h"

#include <QHash>
#include <QObject>

#include <deque>
#include <functional>

class ModemLine;
struct ModemAnswer;

// The delivery reports of one modem. It tells the modem to pass them on as
// they arrive ("+CDS"), or, where the modem only stores them, to announce
// each ("+CDSI"); and it reads the ones a modem keeps in its "SR" memory and
// deletes each once read, so that none stays there until the memory is
// full. One command is out at a time, so that an index is never read or
// deleted twice: a second delete could take a report stored there since.
class ReportReader : public QObject
{
    Q_OBJECT

public:
    ReportReader(ModemLine &line, std::function<void(const DeliveryReport &)> found, QObject *parent = nullptr);

    // "AT+CNMI" with the <ds> the modem takes: 1 where it can, else 2; what
    // it takes is asked once ("AT+CNMI=?") and kept by the line, which adds
    // the <mt> it listens with. Again after a reset, which forgets it.
    void setUp();
    // The command for what "AT+CNMI=?" answered (empty: no answer).
    static QString indicationsCommand(const QString &ranges);

    // Every report in the memory.
    void readAll();
    // The one the modem announced with "+CDSI: "SR",<index>".
    void read(int index);

private:
    void tell();
    void next();
    void selected(const ModemAnswer &answer);
    void readIndex(int index);
    void readBack(int index, const ModemAnswer &answer);

    ModemLine &m_line;
    std::function<void(const DeliveryReport &)> m_found;

    std::deque<int> m_indexes;  // to read, in turn
    QHash<int, bool> m_queued;  // each of those: announced (true) or only looked at by a round
    bool m_busy = false;        // a command is out
    bool m_selected = false;    // "SR" is the memory read from, in this run of reads
    bool m_roundWanted = false; // the whole memory is to be looked at
    int m_roundLeft = 0;        // reports the round has still to find
};
