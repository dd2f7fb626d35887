#include "app/AlertTableModel.h"

#include "store/DbError.h"

#include <algorithm>

AlertTableModel::AlertTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void AlertTableModel::setFilter(const AlertHistory::Filter &filter)
{
    m_filter = filter;
    reload();
}

void AlertTableModel::reload()
{
    beginResetModel();
    m_alerts.clear();
    m_alertIds.clear();
    m_topLogId = 0;
    m_cursor = {};
    endResetModel();
    fetchMore({});
}

QList<AlertHistory::Alert> AlertTableModel::unseen(const QList<AlertHistory::Alert> &alerts, bool above) const
{
    QList<AlertHistory::Alert> fresh;
    // A row that moved into LOG since it was shown is the same alert; a row
    // the outbox no longer knows is new above the newest LOG row shown, and
    // below, where the keyset goes on from the last one, always.
    std::copy_if(alerts.cbegin(), alerts.cend(), std::back_inserter(fresh),
                 [this, above](const AlertHistory::Alert &alert) {
                     if (alert.alertId != 0)
                         return !m_alertIds.contains(alert.alertId);
                     return !above || alert.logId > m_topLogId;
                 });
    return fresh;
}

void AlertTableModel::remember(const QList<AlertHistory::Alert> &alerts)
{
    for (const AlertHistory::Alert &alert : alerts) {
        if (alert.alertId != 0)
            m_alertIds.insert(alert.alertId);
        m_topLogId = std::max(m_topLogId, alert.logId);
    }
}

bool AlertTableModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_cursor.atEnd;
}

void AlertTableModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    QList<AlertHistory::Alert> page;
    try {
        page = unseen(m_history.page(m_filter, m_cursor, PageSize), false);
    } catch (const DbError &error) {
        // Tried again when the view asks for more.
        emit failed(error.text());
        return;
    }
    if (page.isEmpty())
        return;
    remember(page);
    beginInsertRows({}, int(m_alerts.size()), int(m_alerts.size() + page.size() - 1));
    m_alerts += page;
    endInsertRows();
}

void AlertTableModel::refresh(const QList<int> &rows)
{
    QList<AlertHistory::Alert> newer;
    QHash<qint64, AlertHistory::Fresh> fresh;
    try {
        AlertHistory::Cursor top;
        const QList<AlertHistory::Alert> first = m_history.page(m_filter, top, PageSize);
        newer = unseen(first, true);
        // More came than a page holds: read from the top again.
        if (!first.isEmpty() && newer.size() == first.size()) {
            reload();
            return;
        }
        QList<qint64> ids;
        for (const int row : rows) {
            if (row >= 0 && row < m_alerts.size() && m_alerts.at(row).alertId != 0)
                ids << m_alerts.at(row).alertId;
        }
        fresh = m_history.refresh(ids);
    } catch (const DbError &error) {
        emit failed(error.text());
        return;
    }
    for (const int row : rows) {
        if (row < 0 || row >= m_alerts.size())
            continue;
        AlertHistory::Alert &alert = m_alerts[row];
        const auto found = fresh.constFind(alert.alertId);
        if (alert.alertId == 0 || found == fresh.cend())
            continue;
        alert.recipients = found->recipients;
        alert.logId = found->logId;
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    }
    if (!newer.isEmpty()) {
        remember(newer);
        beginInsertRows({}, 0, int(newer.size() - 1));
        m_alerts = newer + m_alerts;
        endInsertRows();
    }
}

QStringList AlertTableModel::robots() const
{
    QStringList names;
    for (const AlertHistory::Alert &alert : m_alerts)
        names << alert.robot;
    names.removeDuplicates();
    names.sort(Qt::CaseInsensitive);
    return names;
}

int AlertTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_alerts.size());
}

int AlertTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant AlertTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_alerts.size() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const AlertHistory::Alert &alert = m_alerts.at(index.row());
    switch (index.column()) {
    case Taken:
        if (alert.takenAt.isValid())
            return alert.takenAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        return alert.day.isValid() ? alert.day.toString(Qt::ISODate) : QString();
    case Time:
        return alert.time;
    case Folder:
        return alert.folder;
    case Robot:
        return alert.robot;
    case Title:
        return alert.title;
    case Message:
        return alert.message;
    case Outcome:
        return alert.outcome();
    default:
        return {};
    }
}

QVariant AlertTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Taken:
        return QStringLiteral("Taken");
    case Time:
        return QStringLiteral("Time");
    case Folder:
        return QStringLiteral("Folder");
    case Robot:
        return QStringLiteral("Robot");
    case Title:
        return QStringLiteral("Title");
    case Message:
        return QStringLiteral("Message");
    case Outcome:
        return QStringLiteral("SMS");
    default:
        return {};
    }
}
