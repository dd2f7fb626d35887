#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>

#include <deque>
#include <memory>

class ModemEngine;
class QSocketNotifier;

// Puts a ModemEngine on a pseudo-terminal: the slave is what the program
// opens, linked as <folder>/COM<port>; the master is watched here, its bytes
// go to the engine and the engine's answers come back, delayed and cut into
// pieces as the options say, without ever blocking the event loop. The
// status reports the engine expects are brought to it when they are due.
class PtyModem : public QObject
{
    Q_OBJECT

public:
    struct Options {
        int delayMs = 0;      // before each answer, echo included
        int split = 0;        // at most this many bytes per write (0: no limit)
        double splitRate = 0; // fraction of answers cut into random pieces
        int reopenMs = 500;   // after a hang-up, until the fresh line is offered
        quint32 seed = 2;
    };

    PtyModem(ModemEngine &engine, const QString &folder, int port, const Options &options, QObject *parent = nullptr);
    ~PtyModem() override;

    // Opens the line and binds the link; false (with the reason) if it cannot.
    bool open(QString *error);
    QString slavePath() const { return m_slave; }
    QString linkPath() const { return m_link; }

    // A line of the control FIFO: "unplug" and "plug" are the device's,
    // everything else the engine's.
    void control(const QByteArray &line);

signals:
    // The link points at a line being watched: at start and after each hang-up.
    void ready(const QString &slavePath);
    void logged(const QString &line);

private:
    struct Pending {
        qint64 due = 0;
        QByteArray bytes;
        bool randomSplit = false;
        bool hangUp = false;    // close the line once everything before it is out
        qint64 giveUpAt = -1;   // for a hang-up: the longest wait for the program
        qint64 emptySince = -1; // ... and since when its end has been read empty
    };

    void readMaster();
    void queue(Pending pending);
    void drain();
    void discardUnsent();
    bool programHasReadAll(Pending &marker);
    void hangUp();
    void reopen();
    void unplug();
    void plug();
    void bringReport(int id);
    void answerLate(const QByteArray &bytes, int delayMs);
    void closeLine();
    bool pointLinkAt(const QString &target);

    ModemEngine &m_engine;
    const Options m_options;
    const QString m_link;
    QRandomGenerator m_random;
    int m_master = -1;
    int m_slaveFd = -1;
    QString m_slave;
    QString m_linkTarget; // what the link points at now
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::deque<Pending> m_pending;
    qsizetype m_pendingBytes = 0;
    qint64 m_nextWrite = 0; // the pause between two pieces ends here
    qint64 m_stalledSince = -1;
    QElapsedTimer m_clock;
    QTimer m_drainTimer;
    QTimer m_reopenTimer;
    bool m_unplugged = false;
    int m_lineNumber = 0; // counts the lines offered: a late answer belongs to the one it was due on
};
