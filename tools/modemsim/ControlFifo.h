#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

// The simulator's control line: a FIFO a test writes command lines into
// while the modem runs. It is read without ever blocking, and opened again
// each time a writer has closed it, so that any number of writers can come
// one after another.
class ControlFifo : public QObject
{
    Q_OBJECT

public:
    explicit ControlFifo(const QString &path, QObject *parent = nullptr);
    ~ControlFifo() override;

    // Makes the FIFO (one left from an earlier run is taken over) and opens it.
    bool open(QString *error);

signals:
    void received(const QByteArray &line);

private:
    void readFifo();
    bool openForReading();
    void closeFifo();

    static constexpr qsizetype MaxLineLength = 4096;

    const QString m_path;
    bool m_made = false;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QByteArray m_partial;
};
