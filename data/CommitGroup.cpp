#include "data/CommitGroup.h"

#include "data/SqlError.h"

CommitGroup::CommitGroup(QSqlDatabase database, std::chrono::milliseconds interval)
    : database_(std::move(database)), interval_(interval)
{
}

void CommitGroup::post(const std::function<void()>& write)
{
    if (!age_.isValid())
        begin();
    try {
        write();
    } catch (...) {
        // A failed write leaves nothing of its own; what went before is kept.
        if (posted_ == 0)
            abandon();
        else
            commit();
        throw;
    }
    ++posted_;
    if (std::chrono::milliseconds(age_.elapsed()) >= interval_)
        commit();
}

void CommitGroup::commit()
{
    if (!age_.isValid())
        return;
    age_.invalidate();
    posted_ = 0;
    if (!database_.commit()) {
        const QSqlError error = database_.lastError();
        database_.rollback();
        throw SqlError(error);
    }
}

void CommitGroup::begin()
{
    if (!database_.transaction())
        throw SqlError(database_.lastError());
    age_.start();
}

void CommitGroup::abandon()
{
    age_.invalidate();
    // On SQL Server a trigger may have ended the transaction already.
    database_.rollback();
}
