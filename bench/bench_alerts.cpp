// The Alerts window over a long history: 1,000,000 LOG rows in Config.mdb
// and their alerts in the outbox with 2,000,000 SMS, made in a temporary
// program folder, then the window opened offscreen. Measures the time from
// its construction to its first page shown and the resident memory it
// adds, then the time of the next page and of each filter, the slowest
// being a search or a user that matches nothing, which reads every row.

#include "app/frmAlerts.h"
#include "modem/PageLog.h"
#include "store/Outbox.h"
#include "support/BenchReport.h"
#include "support/ProgramFolderFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>

#include <cstdio>
#include <functional>

namespace {

constexpr int Days = 100;
constexpr int Robots = 50;
const char *const Users[] = {"Ann", "Bob", "Cy", "Dan"};

// One connection for the whole fill, dropped before the measuring starts.
class Filler
{
public:
    explicit Filler(const QString &file)
        : m_name(QStringLiteral("bench-fill-") + file)
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        m_db.setDatabaseName(file);
        if (!m_db.open())
            qFatal("%s", qPrintable(m_db.lastError().text()));
        run(QStringLiteral("PRAGMA synchronous=OFF"));
    }
    ~Filler()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }

    void run(const QString &sql)
    {
        QSqlQuery query(m_db);
        if (!query.exec(sql))
            qFatal("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    }
    QSqlQuery prepare(const QString &sql)
    {
        QSqlQuery query(m_db);
        if (!query.prepare(sql))
            qFatal("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
        return query;
    }
    static void exec(QSqlQuery &query)
    {
        if (!query.exec())
            qFatal("%s", qPrintable(query.lastError().text()));
    }

private:
    QString m_name;
    QSqlDatabase m_db;
};

QString robot(int i)
{
    return QStringLiteral("Robot%1").arg(i % Robots);
}

QString message(int i)
{
    return QStringLiteral("XAUUSD crossed %1.%2 (alert %3)")
        .arg(1800 + i % 200)
        .arg(i % 100, 2, 10, QLatin1Char('0'))
        .arg(i);
}

// LOG rows 1..rows, in one transaction.
void fillLog(const QString &file, int rows)
{
    Filler fill(file);
    fill.run(QStringLiteral("BEGIN"));
    QSqlQuery insert = fill.prepare(QStringLiteral("INSERT INTO LOG (SMS_ID, Time, EA_Name, Title, Message) VALUES "
                                                   "(?, ?, ?, ?, ?)"));
    for (int i = 1; i <= rows; ++i) {
        insert.bindValue(0, i);
        insert.bindValue(1, QStringLiteral("%1:%2:%3")
                                .arg(i / 3600 % 24, 2, 10, QLatin1Char('0'))
                                .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                                .arg(i % 60, 2, 10, QLatin1Char('0')));
        insert.bindValue(2, robot(i));
        insert.bindValue(3, QStringLiteral("Price alert"));
        insert.bindValue(4, message(i));
        Filler::exec(insert);
    }
    fill.run(QStringLiteral("COMMIT"));
}

// Each LOG row's alert, two SMS each (sent, most of them delivered, some
// given up), and the day ranges of LOG, in one transaction.
void fillOutbox(const QString &file, int rows)
{
    Filler fill(file);
    fill.run(QStringLiteral("BEGIN"));
    QSqlQuery alert = fill.prepare(
        QStringLiteral("INSERT INTO alert (id, folder, lead, time, ea_name, title, message, message_bytes, taken_at, "
                       "dispatched, first_done, logged, log_id) VALUES (?, ?, 'L', '', ?, 'Price alert', ?, x'', ?, "
                       "1, 1, 1, ?)"));
    QSqlQuery sms = fill.prepare(QStringLiteral(
        "INSERT INTO sms (id, alert_id, name, number, state, tries, reason, finished_at, sent_route) VALUES "
        "(?, ?, ?, ?, ?, ?, ?, ?, 'COM1')"));
    QSqlQuery delivery = fill.prepare(
        QStringLiteral("INSERT INTO delivery (sms_id, state, sent_at, delivered_at) VALUES (?, 'delivered', ?, ?)"));
    const QDateTime first(QDate::currentDate().addDays(-Days + 1), QTime(0, 0));
    const qint64 msPerRow = qint64(Days) * 86400 * 1000 / rows;
    qint64 smsId = 0;
    for (int i = 1; i <= rows; ++i) {
        const QDateTime taken = first.addMSecs(msPerRow * (i - 1));
        const qint64 at = taken.toMSecsSinceEpoch();
        alert.bindValue(0, i);
        alert.bindValue(1, QStringLiteral("/desk/mt4-%1").arg(i % 21));
        alert.bindValue(2, robot(i));
        alert.bindValue(3, message(i));
        alert.bindValue(4, taken.toUTC().toString(Qt::ISODateWithMs));
        alert.bindValue(5, i);
        Filler::exec(alert);
        for (int k = 0; k < 2; ++k) {
            const bool givenUp = i % 1000 == 0 && k == 1;
            sms.bindValue(0, ++smsId);
            sms.bindValue(1, i);
            sms.bindValue(2, QString::fromLatin1(Users[(i / 5000 + k) % 4]));
            sms.bindValue(3, QStringLiteral("+1555010%1").arg((i / 5000 + k) % 4));
            sms.bindValue(4, givenUp ? QStringLiteral("failed") : QStringLiteral("sent"));
            sms.bindValue(5, givenUp ? 5 : 1);
            sms.bindValue(6, givenUp ? QVariant(QStringLiteral("+CMS ERROR: 38")) : QVariant());
            sms.bindValue(7, at + 2000);
            Filler::exec(sms);
            if (!givenUp) {
                delivery.bindValue(0, smsId);
                delivery.bindValue(1, at + 2000);
                delivery.bindValue(2, at + 5000);
                Filler::exec(delivery);
            }
        }
    }
    QSqlQuery day = fill.prepare(QStringLiteral("INSERT INTO log_day (day, first_id, last_id) VALUES (?, ?, ?)"));
    for (int d = 0; d < Days; ++d) {
        day.bindValue(0, first.date().addDays(d).toString(Qt::ISODate));
        day.bindValue(1, qint64(d) * rows / Days + 1);
        day.bindValue(2, qint64(d + 1) * rows / Days);
        Filler::exec(day);
    }
    fill.run(QStringLiteral("COMMIT"));
}

// Sets a filter as a user would; the window reads once the typing pauses,
// and that reading, from the model's reset to the window shown again, is
// what is timed.
double timeFilter(const QAbstractItemModel &model, const std::function<void()> &set)
{
    QElapsedTimer clock;
    const auto connection =
        QObject::connect(&model, &QAbstractItemModel::modelAboutToBeReset, &model, [&clock] { clock.start(); });
    set();
    QElapsedTimer wait;
    wait.start();
    while (!clock.isValid() && wait.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    QObject::disconnect(connection);
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString name = QStringLiteral("alerts");
    const int rows = Bench::intOption(app.arguments(), QStringLiteral("--rows"), 1000000);
    Bench::heading(name,
                   QStringLiteral("%1 LOG rows in Config.mdb and their alerts in Outbox.db with %2 SMS, %3 robots, "
                                  "%4 days, made in one transaction each; then frmAlerts constructed and shown "
                                  "offscreen, timed to its first page on screen, with VmRSS before and after (Qt's "
                                  "widgets warmed up by a table window first); then the next page and each filter")
                       .arg(rows)
                       .arg(2 * rows)
                       .arg(Robots)
                       .arg(Days));

    ProgramFolderFixture folder;
    QElapsedTimer clock;
    clock.start();
    fillLog(folder.databasePath(), rows);
    {
        Outbox outbox;
        outbox.open();
    }
    fillOutbox(folder.file(QString::fromLatin1(Outbox::FileName)), rows);
    Bench::note(
        name, QStringLiteral("history made"),
        QStringLiteral("%1 s, Config.mdb %2 MB, Outbox.db %3 MB")
            .arg(double(clock.elapsed()) / 1000, 0, 'f', 1)
            .arg(double(QFileInfo(folder.databasePath()).size()) / 1e6, 0, 'f', 0)
            .arg(double(QFileInfo(folder.file(QString::fromLatin1(Outbox::FileName))).size()) / 1e6, 0, 'f', 0));

    // What any window costs the first time: styles, fonts, the table's code.
    {
        QDialog warm;
        auto *table = new QTableView(&warm);
        Q_UNUSED(table);
        warm.show();
        QApplication::processEvents();
    }
    QApplication::processEvents();

    PageLog pageLog;
    const qint64 before = Bench::rssKb();
    clock.restart();
    auto *window = new frmAlerts(pageLog);
    window->resize(900, 600);
    window->show();
    QApplication::processEvents();
    const double openMs = double(clock.nsecsElapsed()) / 1e6;
    const qint64 after = Bench::rssKb();
    auto *grid = window->findChild<QTableView *>(QStringLiteral("grdAlerts"));
    const int shown = grid->model()->rowCount();

    Bench::note(name, QStringLiteral("rows in the first page / newest"),
                QStringLiteral("%1 / %2").arg(shown).arg(grid->model()->index(0, 5).data().toString()));
    Bench::result(name, QStringLiteral("open to the first page shown"), Bench::ms(openMs), QStringLiteral("< 1000 ms"),
                  openMs < 1000 && shown > 0);
    const double addedMb = double(after - before) / 1024;
    Bench::result(name, QStringLiteral("memory added by the window"),
                  QStringLiteral("%1 MB (VmRSS %2 -> %3 MB)")
                      .arg(addedMb, 0, 'f', 1)
                      .arg(double(before) / 1024, 0, 'f', 1)
                      .arg(double(after) / 1024, 0, 'f', 1),
                  QStringLiteral("< 30 MB"), addedMb < 30);

    clock.restart();
    grid->scrollToBottom();
    QApplication::processEvents();
    Bench::note(name, QStringLiteral("next page as the table scrolls"),
                QStringLiteral("%1, %2 rows")
                    .arg(Bench::ms(double(clock.nsecsElapsed()) / 1e6))
                    .arg(grid->model()->rowCount()));

    const auto filter = [&](const QString &what, const std::function<void()> &set) {
        const double ms = timeFilter(*grid->model(), set);
        Bench::note(name, QStringLiteral("filter: ") + what,
                    QStringLiteral("%1, %2 rows").arg(Bench::ms(ms)).arg(grid->model()->rowCount()));
    };
    auto *robotBox = window->findChild<QComboBox *>(QStringLiteral("cboRobot"));
    auto *userBox = window->findChild<QComboBox *>(QStringLiteral("cboUser"));
    auto *search = window->findChild<QLineEdit *>(QStringLiteral("txtSearch"));
    auto *day = window->findChild<QDateEdit *>(QStringLiteral("dtpDay"));
    auto *dayOn = window->findChild<QCheckBox *>(QStringLiteral("chkDay"));
    filter(QStringLiteral("a robot"), [&] { robotBox->setEditText(QStringLiteral("Robot7")); });
    filter(QStringLiteral("a robot that sent nothing"), [&] { robotBox->setEditText(QStringLiteral("Nobody")); });
    filter(QStringLiteral("a robot, a day 50 days ago"), [&] {
        robotBox->setEditText(QStringLiteral("Robot7"));
        day->setDate(QDate::currentDate().addDays(-50));
        dayOn->setChecked(true);
    });
    filter(QStringLiteral("a day 50 days ago"), [&] { robotBox->setEditText(QString()); });
    filter(QStringLiteral("a user"), [&] {
        dayOn->setChecked(false);
        userBox->setEditText(QStringLiteral("Cy"));
    });
    filter(QStringLiteral("a user, a day 50 days ago"), [&] { dayOn->setChecked(true); });
    filter(QStringLiteral("a user who got nothing"), [&] {
        dayOn->setChecked(false);
        userBox->setEditText(QStringLiteral("Eve"));
    });
    filter(QStringLiteral("search, common words"), [&] {
        userBox->setEditText(QString());
        search->setText(QStringLiteral("crossed 1850"));
    });
    filter(QStringLiteral("search, words in no message"), [&] { search->setText(QStringLiteral("EURUSD")); });
    filter(QStringLiteral("search, one alert"), [&] { search->setText(QStringLiteral("(alert 123456)")); });

    delete window;
    std::fflush(stdout);
    return 0;
}
