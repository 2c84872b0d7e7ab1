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
    statements_.execute(dialect_.beginStatement());
    age_.start();
}

void CommitGroup::post(const std::function<void()>& write)
{
    begin();
    try {
        write();
    } catch (const std::exception& failure) {
        // A failed statement leaves nothing of its own; what went before is
        // kept unless the engine rolled the whole transaction back with it.
        const std::exception_ptr writeFailure = std::current_exception();
        const int earlier = posted_;
        bool kept = true;
        try {
            commit();
        } catch (const std::exception&) {
            kept = false;
        }
        if (kept || earlier == 0)
            std::rethrow_exception(writeFailure);
        throw EDatabaseError(QStringLiteral("%1 (the %2 values written since the last commit were rolled back with it)")
                                 .arg(QString::fromUtf8(failure.what()))
                                 .arg(earlier));
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
        statements_.execute(dialect_.commitStatement());
    } catch (...) {
        rollback();
        end(false);
        throw;
    }
    sinceCommit_.start();
    end(true);
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
        statements_.execute(dialect_.rollbackStatement());
    } catch (const std::exception&) {
    }
}
