#pragma once

#include <QByteArray>
#include <QString>

// A raw pseudo-terminal whose slave is bound as COM<n> in a folder: the test
// holds the master end and plays the device.
class PtyPair
{
public:
    PtyPair(const QString &folder, int port);
    ~PtyPair();

    QString slavePath() const { return m_slave; }
    void write(const QByteArray &bytes);
    // Reads what arrived within `ms` milliseconds of the last byte.
    QByteArray read(int ms = 200);
    // Closes the master: the program's end sees the line go away.
    void hangUp();

private:
    int m_master = -1;
    int m_slaveFd = -1;
    QString m_slave;
    QString m_link;
};
