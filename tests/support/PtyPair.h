#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// A raw pseudo-terminal whose slave is bound as COM<n> in a folder: the test
// holds the master end and plays the device, either by reading and writing
// directly or, while the program waits in its event loop, through
// received() and writeLater().
class PtyPair : public QObject
{
    Q_OBJECT

public:
    PtyPair(const QString &folder, int port);
    ~PtyPair() override;

    // Starts delivering what the program writes as received().
    void listen();
    // Writes the bytes after `ms` milliseconds of the event loop.
    void writeLater(const QByteArray &bytes, int ms);

    QString slavePath() const { return m_slave; }
    // The device's end, for a test that serves it from a thread of its own.
    int masterFd() const { return m_master; }
    void write(const QByteArray &bytes);
    // Reads what arrived within `ms` milliseconds of the last byte.
    QByteArray read(int ms = 200);
    // Closes the master: the program's end sees the line go away.
    void hangUp();

signals:
    void received(const QByteArray &bytes);

private:
    QSocketNotifier *m_notifier = nullptr;
    int m_master = -1;
    int m_slaveFd = -1;
    QString m_slave;
    QString m_link;
};
