#include "app/frmAlerts.h"
#include "ui_frmAlerts.h"

#include "app/AlertTableModel.h"
#include "modem/PageLog.h"
#include "store/Clock.h"
#include "store/DbError.h"

#include <QHeaderView>
#include <QScrollBar>

namespace {

enum RecipientColumn { Name, Number, State, Sent, Route, Delivered, Tries, Why, Acknowledged };

// The time alone on the alert's own day, with its date on any other.
QString when(const QDateTime &at, const QDate &day)
{
    if (!at.isValid())
        return {};
    return at.toString(at.date() == day ? QStringLiteral("HH:mm:ss") : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString why(const AlertHistory::Recipient &sms)
{
    using State = AlertHistory::Recipient::State;
    switch (sms.state) {
    case State::Retrying:
        return sms.nextTry.isValid() ? QStringLiteral("%1; next try at %2")
                                           .arg(sms.reason, sms.nextTry.toString(QStringLiteral("HH:mm:ss")))
                                     : sms.reason;
    case State::GivenUp:
        return QStringLiteral("%1 (given up at %2)")
            .arg(sms.reason, sms.givenUpAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    case State::NotDelivered:
        return sms.reason;
    case State::Sent:
        return sms.reportAsked ? QStringLiteral("no delivery report yet") : QString();
    default:
        return {};
    }
}

} // namespace

frmAlerts::frmAlerts(const PageLog &pageLog, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::frmAlerts>())
    , m_model(new AlertTableModel(this))
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    // Each opening reads afresh; a closed window holds nothing.
    setAttribute(Qt::WA_DeleteOnClose);
    ui->grdAlerts->setModel(m_model);
    ui->cboRobot->lineEdit()->setPlaceholderText(QStringLiteral("every robot"));
    ui->cboUser->lineEdit()->setPlaceholderText(QStringLiteral("everybody"));
    ui->dtpDay->setDate(Clock::now().date());
    ui->splAlerts->setSizes({380, 160});
    QHeaderView *header = ui->grdAlerts->horizontalHeader();
    for (const auto &[column, width] : {std::pair{AlertTableModel::Taken, 135},
                                        {AlertTableModel::Time, 65},
                                        {AlertTableModel::Folder, 110},
                                        {AlertTableModel::Robot, 100},
                                        {AlertTableModel::Title, 110},
                                        {AlertTableModel::Message, 240}})
        header->resizeSection(column, width);
    ui->grdAlerts->verticalHeader()->setDefaultSectionSize(ui->grdAlerts->fontMetrics().height() + 6);
    ui->tvwRecipients->setColumnHidden(Acknowledged, true);
    ui->cboRobot->addItem(QString());
    ui->cboUser->addItem(QString());
    try {
        ui->cboUser->addItems(AlertHistory().users());
    } catch (const DbError &error) {
        m_error = error.text();
    }

    m_filterDelay.setSingleShot(true);
    m_filterDelay.setInterval(FilterDelayMs);
    m_refreshDelay.setSingleShot(true);
    m_refreshDelay.setInterval(RefreshDelayMs);
    connect(&m_filterDelay, &QTimer::timeout, this, &frmAlerts::applyFilter);
    connect(&m_refreshDelay, &QTimer::timeout, this, &frmAlerts::refreshShown);
    const auto filterSoon = [this] { m_filterDelay.start(); };
    connect(ui->chkDay, &QCheckBox::toggled, this, [this, filterSoon](bool on) {
        ui->dtpDay->setEnabled(on);
        filterSoon();
    });
    connect(ui->dtpDay, &QDateEdit::dateChanged, this, filterSoon);
    connect(ui->cboRobot, &QComboBox::currentTextChanged, this, filterSoon);
    connect(ui->cboUser, &QComboBox::currentTextChanged, this, filterSoon);
    connect(ui->txtSearch, &QLineEdit::textChanged, this, filterSoon);
    connect(ui->cmdClose, &QPushButton::clicked, this, &QDialog::close);

    // Every SMS that settles is said in the page log: sent, not sent, given
    // up, delivered or not.
    connect(&pageLog, &PageLog::appended, this, [this] {
        if (isVisible() && !m_refreshDelay.isActive())
            m_refreshDelay.start();
    });
    connect(m_model, &AlertTableModel::failed, this, [this](const QString &text) {
        m_error = text;
        showStatus();
    });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] {
        fillRobots();
        showStatus();
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        fillRobots();
        showStatus();
    });
    connect(m_model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &first) {
        if (first.row() == selectedRow())
            showSelected();
    });
    connect(ui->grdAlerts->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &frmAlerts::showSelected);

    applyFilter();
}

frmAlerts::~frmAlerts() = default;

void frmAlerts::applyFilter()
{
    m_filterDelay.stop();
    m_error.clear();
    AlertHistory::Filter filter;
    if (ui->chkDay->isChecked())
        filter.day = ui->dtpDay->date();
    filter.robot = ui->cboRobot->currentText().trimmed();
    filter.user = ui->cboUser->currentText().trimmed();
    filter.search = ui->txtSearch->text().trimmed();
    m_model->setFilter(filter);
    if (m_model->rowCount() > 0)
        ui->grdAlerts->selectRow(0);
    showSelected();
    showStatus();
}

QList<int> frmAlerts::shownRows() const
{
    QList<int> rows;
    const int count = m_model->rowCount();
    if (count == 0)
        return rows;
    const int first = std::max(0, ui->grdAlerts->rowAt(0));
    int last = ui->grdAlerts->rowAt(ui->grdAlerts->viewport()->height() - 1);
    if (last < 0)
        last = count - 1;
    for (int row = first; row <= last; ++row)
        rows << row;
    const int selected = selectedRow();
    if (selected >= 0 && !rows.contains(selected))
        rows << selected;
    return rows;
}

int frmAlerts::selectedRow() const
{
    const QModelIndex current = ui->grdAlerts->selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void frmAlerts::select(qint64 alertId, qint64 logId)
{
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const AlertHistory::Alert &alert = m_model->alert(row);
        if ((alertId != 0 && alert.alertId == alertId) || (alertId == 0 && logId != 0 && alert.logId == logId)) {
            ui->grdAlerts->selectRow(row);
            return;
        }
    }
}

void frmAlerts::refreshShown()
{
    const int selected = selectedRow();
    const qint64 alertId = selected >= 0 ? m_model->alert(selected).alertId : 0;
    const qint64 logId = selected >= 0 ? m_model->alert(selected).logId : 0;
    m_error.clear();
    m_model->refresh(shownRows());
    // Read from the top again when many came at once.
    if (selected >= 0 && selectedRow() < 0)
        select(alertId, logId);
    showStatus();
}

void frmAlerts::showSelected()
{
    ui->tvwRecipients->clear();
    const int row = selectedRow();
    if (row < 0) {
        ui->lblAlert->clear();
        return;
    }
    const AlertHistory::Alert &alert = m_model->alert(row);
    const QString taken = alert.takenAt.isValid() ? alert.takenAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                                  : alert.day.toString(Qt::ISODate);
    QStringList heading{taken, alert.time, alert.robot, alert.title};
    heading.removeAll(QString());
    QString text = heading.join(QStringLiteral(" | ")) + QLatin1Char('\n') + alert.message;
    if (!alert.folder.isEmpty())
        text += QStringLiteral("\nFolder: ") + alert.folder;
    if (alert.alertId == 0)
        text += QStringLiteral("\nWhat became of its SMS is no longer kept (the outbox keeps a week).");
    else if (alert.recipients.isEmpty())
        text += QStringLiteral("\nNot sent yet.");
    ui->lblAlert->setText(text);

    bool acknowledged = false;
    for (const AlertHistory::Recipient &sms : alert.recipients) {
        auto *item = new QTreeWidgetItem(ui->tvwRecipients);
        item->setText(Name, sms.name);
        item->setText(Number, sms.number);
        item->setText(State, AlertHistory::Recipient::words(sms.state));
        item->setText(Sent, when(sms.sentAt, alert.day));
        item->setText(Route, sms.route);
        item->setText(Delivered, when(sms.deliveredAt, alert.day));
        item->setText(Tries, QString::number(sms.tries));
        item->setText(Why, why(sms));
        item->setToolTip(Why, why(sms));
        if (!sms.acknowledgedBy.isEmpty()) {
            acknowledged = true;
            item->setText(Acknowledged,
                          QStringLiteral("%1 at %2").arg(sms.acknowledgedBy, when(sms.acknowledgedAt, alert.day)));
        }
    }
    ui->tvwRecipients->setColumnHidden(Acknowledged, !acknowledged);
    for (int column = Name; column < Why; ++column)
        ui->tvwRecipients->resizeColumnToContents(column);
}

void frmAlerts::showStatus()
{
    if (!m_error.isEmpty()) {
        ui->lblStatus->setText(QStringLiteral("Cannot read the alerts: ") + m_error);
        return;
    }
    const int rows = m_model->rowCount();
    QString text = rows == 1 ? QStringLiteral("1 alert") : QStringLiteral("%1 alerts").arg(rows);
    if (m_model->canFetchMore({}))
        text += QStringLiteral(", more as you scroll");
    ui->lblStatus->setText(text);
}

void frmAlerts::fillRobots()
{
    // Robots already listed keep their place, so that an open list does not
    // jump under the mouse.
    for (const QString &robot : m_model->robots()) {
        if (ui->cboRobot->findText(robot, Qt::MatchFixedString) < 0) {
            const QSignalBlocker quiet(ui->cboRobot);
            const QString typed = ui->cboRobot->currentText();
            ui->cboRobot->addItem(robot);
            ui->cboRobot->setEditText(typed);
        }
    }
}
