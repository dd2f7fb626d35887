#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The bundled vantrel-modemsim, started beside the test executable on a
// pseudo-terminal linked as <folder>/COM<port>, and stopped again when the
// fixture goes. Its log goes to a file (see log()) so a chatty modem can
// never block on a full pipe while a test is not reading. It always has a
// control FIFO, so that a test can change the running modem (control()).
class SimulatedModem
{
public:
    struct Sms {
        QString number; // one character per byte (Latin-1), as on the line
        QString text;   // text mode: Latin-1 as on the line; PDU mode: decoded
        int parts = 1;  // SMS that carried it: more than one in PDU mode only
        bool pdu = false;
    };

    // Waits up to five seconds for the ready line; see isReady().
    // With no folder the fixture uses a temporary one of its own.
    explicit SimulatedModem(const QStringList &options = {}, const QString &folder = {}, int port = 1);
    ~SimulatedModem();
    SimulatedModem(const SimulatedModem &) = delete;
    SimulatedModem &operator=(const SimulatedModem &) = delete;

    bool isReady() const { return !m_slave.isEmpty(); }
    // Waits for the next ready line: the fresh line after a hang-up.
    bool waitForReady(int ms = 5000);

    QString folder() const { return m_folder; }
    QString linkPath() const;
    QString slavePath() const { return m_slave; }
    QString recordPath() const { return m_record; }
    // The accepted messages so far, read back from the record file.
    QList<Sms> messages() const;
    // The texts of those to `number`, in order.
    QStringList textsTo(const QString &number) const;
    // What the modem logged so far: the dialogue, refusals, hang-ups.
    QString log() const;

    // Writes one line into the modem's control FIFO ("signal 0", "unplug",
    // "reports deliver": vantrel-modemsim --help lists them) and waits, two
    // seconds at most, until the modem has read it, so that whatever the test
    // does next meets the change. False when the modem did not take it.
    bool control(const QString &line);
    QString controlPath() const { return m_control; }

    // Sends SIGTERM and waits; true if the modem ended cleanly.
    bool stop();

private:
    bool readReadyLine(int ms);

    QTemporaryDir m_work;
    QString m_folder;
    int m_port;
    QString m_record;
    QString m_control;
    QProcess m_process;
    QByteArray m_stdout;
    QString m_slave;
};
