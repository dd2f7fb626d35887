#include "support/LockHolder.h"

#include <QAtomicInteger>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <future>

LockHolder::LockHolder(const QString &file, std::chrono::milliseconds holdFor)
{
    static QAtomicInteger<int> counter;
    const QString name = QStringLiteral("lock-holder-%1").arg(++counter);
    std::promise<bool> locked;
    std::future<bool> isLocked = locked.get_future();
    m_thread = std::thread([this, file, name, holdFor, &locked] {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(file);
            QSqlQuery query(db);
            const bool ok = db.open() && query.exec(QStringLiteral("BEGIN EXCLUSIVE"));
            locked.set_value(ok);
            const auto until = std::chrono::steady_clock::now() + holdFor;
            while (!m_release && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            query.exec(QStringLiteral("COMMIT"));
            query.finish();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    });
    m_locked = isLocked.get();
}

LockHolder::~LockHolder()
{
    release();
}

void LockHolder::release()
{
    m_release = true;
    if (m_thread.joinable())
        m_thread.join();
}
