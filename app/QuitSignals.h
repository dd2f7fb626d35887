#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT (a shutdown, a kill from the task list, Ctrl-C in
// a terminal) into a signal handled by the event loop.
class QuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

signals:
    void received();

private:
    QSocketNotifier *m_notifier = nullptr;
};
