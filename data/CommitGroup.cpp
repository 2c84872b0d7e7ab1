#include "data/CommitGroup.h"

#include "data/DataErrors.h"
#include "data/Dialect.h"
#include "data/Statements.h"

#include <exception>
#include <thread>

CommitGroup::CommitGroup(Statements& statements, const Dialect& dialect) : statements_(statements), dialect_(dialect) {}

void CommitGroup::begin()
{
    if (age_.isValid())
        return;
    if (sinceCommit_.isValid()) {
        const auto waited = std::chrono::milliseconds(sinceCommit_.elapsed());
        if (waited < dialect_.writersTurn())
            std::this_thread::sleep_for(dialect_.writersTurn() - waited);
    }
    dialect_.begin(statements_);
    age_.start();
}

void CommitGroup::post(const std::function<void()>& write)
{
    begin();
    try {
        write();
    } catch (const EDatabaseError& failure) {
        // A failed statement leaves nothing of its own; what went before is
        // kept unless the engine rolled the whole transaction back with it.
        const int earlier = posted_;
        if (endAfterFailure() || earlier == 0)
            throw;
        throw EDatabaseError(QStringLiteral("%1 (the %2 values written since the last commit were rolled back with it)")
                                 .arg(QString::fromUtf8(failure.what()))
                                 .arg(earlier),
                             failure.lockConflict());
    }
    ++posted_;
}

bool CommitGroup::due() const
{
    return age_.isValid() && std::chrono::milliseconds(age_.elapsed()) >= dialect_.commitInterval();
}

void CommitGroup::commit()
{
    if (!age_.isValid())
        return;
    try {
        dialect_.commit(statements_);
    } catch (...) {
        rollback();
        end(false);
        throw;
    }
    sinceCommit_.start();
    end(true);
}

bool CommitGroup::endAfterFailure()
{
    if (!age_.isValid())
        return true;
    bool held = false;
    try {
        held = dialect_.holdsTransaction(statements_);
    } catch (const std::exception&) {
    }
    if (held) {
        try {
            commit();
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }
    rollback();
    end(false);
    return false;
}

void CommitGroup::end(bool stored)
{
    const int rows = posted_;
    age_.invalidate();
    posted_ = 0;
    if (listener_ && rows > 0)
        listener_(rows, stored);
}

void CommitGroup::rollback()
{
    try {
        // The engine may have ended the transaction already.
        dialect_.rollback(statements_);
    } catch (const std::exception&) {
    }
}
