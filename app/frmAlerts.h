#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>

namespace Ui {
class frmAlerts;
}
class AlertTableModel;
class PageLog;

// The Alerts window: the alerts newest first, filtered by day, robot and
// user and searched by their message, with what became of each recipient's
// SMS for the one selected. It reads a page at a time as the table scrolls,
// and reads the rows in view again as SMS settle, which the page log says.
// Only reads: it changes nothing.
class frmAlerts : public QDialog
{
    Q_OBJECT

public:
    // A filter typed is applied once the typing pauses this long.
    static constexpr int FilterDelayMs = 250;
    // Lines the page log appends within this time refresh the rows once.
    static constexpr int RefreshDelayMs = 200;

    explicit frmAlerts(const PageLog &pageLog, QWidget *parent = nullptr);
    ~frmAlerts() override;

private:
    void applyFilter();
    void refreshShown();
    void showSelected();
    void showStatus();
    void fillRobots();
    // The rows in view, and the one selected.
    QList<int> shownRows() const;
    int selectedRow() const;
    void select(qint64 alertId, qint64 logId);

    std::unique_ptr<Ui::frmAlerts> ui;
    AlertTableModel *m_model;
    QTimer m_filterDelay;
    QTimer m_refreshDelay;
    QString m_error;
};
