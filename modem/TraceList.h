#pragma once

#include <QStringListModel>

// The Response list: the line-by-line trace of the latest modem dialogue.
// The Settings window shows it; the senders write it whether or not that
// window is on screen.
class TraceList : public QStringListModel
{
    Q_OBJECT

public:
    static constexpr int KeptLines = 2000;

    using QStringListModel::QStringListModel;

    void Clear();
    void AddItem(const QString &line);
    QStringList lines() const { return stringList(); }
};
