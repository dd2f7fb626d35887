#pragma once

#include "store/AlertHistory.h"

#include <QAbstractTableModel>
#include <QSet>

// The Alerts window's table: the alerts of a filter newest first, a page
// read each time the view scrolls to the end, never the whole history.
class AlertTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Taken, Time, Folder, Robot, Title, Message, Outcome, ColumnCount };
    static constexpr int PageSize = 100;

    explicit AlertTableModel(QObject *parent = nullptr);

    // Shows the newest page of another filter.
    void setFilter(const AlertHistory::Filter &filter);
    const AlertHistory::Filter &filter() const { return m_filter; }
    // Alerts that came in above the first row, and what became of the SMS
    // of the rows given: only those are read again.
    void refresh(const QList<int> &rows);

    const AlertHistory::Alert &alert(int row) const { return m_alerts.at(row); }
    // The robots of the rows read so far.
    QStringList robots() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

signals:
    // A read failed: the table stays as it was.
    void failed(const QString &text);

private:
    // Those of `alerts` not shown yet, read above the first row or below
    // the last; the rest are dropped.
    QList<AlertHistory::Alert> unseen(const QList<AlertHistory::Alert> &alerts, bool above) const;
    void remember(const QList<AlertHistory::Alert> &alerts);
    void reload();

    AlertHistory m_history;
    AlertHistory::Filter m_filter;
    AlertHistory::Cursor m_cursor;
    QList<AlertHistory::Alert> m_alerts;
    QSet<qint64> m_alertIds;
    qint64 m_topLogId = 0;
};
