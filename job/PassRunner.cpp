#include "job/PassRunner.h"

#include "job/ImageTable.h"
#include "data/DataErrors.h"
#include "data/UDataModule.h"

#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

PassRunner::PassRunner(TDataModule1& dataModule, const std::atomic<bool>* stop,
                       std::function<void(int rows, bool stored)> groupEnded)
    : dataModule_(dataModule), stop_(stop), groupEnded_(std::move(groupEnded))
{
}

bool PassRunner::run(const PicturePass& pass, const Steps& steps, const KeyRange& range)
{
    TConnection& connection = dataModule_.con1;
    TQuery& query = dataModule_.qry1;
    connection.OnCommitGroupEnd(groupEnded_);
    struct Running {
        PassRunner& runner;
        ~Running()
        {
            runner.dataModule_.con1.OnCommitGroupEnd({});
            runner.pass_ = nullptr;
            runner.steps_ = nullptr;
        }
    } running{*this};
    pass_ = &pass;
    steps_ = &steps;
    row_ = 0;

    bool stopped = false;
    try {
        // Reading the rows waits for rows another client is writing, as a
        // read for writing does.
        retrying([&] { dataModule_.OpenQuery(pass.statement, range); });
        steps.opened();
        for (query.First(); !query.Eof(); ++row_) {
            if ((stopped = stop_ && *stop_))
                break;
            retrying(steps.visit);
            retrying([&] { query.Next(); });
        }
        retrying([&] {
            steps.writeInHand();
            commit();
        });
    } catch (...) {
        // The values in hand are not written; those written before stay,
        // unless the engine has rolled them back, which the listener hears.
        connection.EndGroupAfterFailure();
        steps.abandon();
        throw;
    }
    return !stopped;
}

void PassRunner::retrying(const std::function<void()>& step)
{
    for (int attempt = 1;; ++attempt) {
        try {
            step();
            return;
        } catch (const EDatabaseError& error) {
            if (!error.lockConflict() || !steps_->lost)
                throw;
            if (attempt == lockConflictTries)
                throw EDatabaseError(QStringLiteral("%1 (given up after %2 tries)").arg(QString::fromUtf8(error.what())).arg(attempt),
                                     error.lockConflict());
            dataModule_.con1.EndGroupAfterFailure();
            steps_->lost();
            ++retries_;
            // Deadlocks between the same clients tend to repeat at once.
            std::this_thread::sleep_for(std::chrono::milliseconds(250) * (1 << (attempt - 1)));
        }
    }
}

std::optional<QByteArray> PassRunner::readForWriting(const TField& field)
{
    if (dataModule_.con1.CommitDue()) {
        steps_->writeInHand();
        commit();
    }
    return field.ReadForUpdate();
}

void PassRunner::commit()
{
    const QString where = QStringLiteral("column %1, committing the values written").arg(pass_->column);
    try {
        dataModule_.con1.CommitPosted();
    } catch (const EDatabaseError& error) {
        throw error.at(where);
    } catch (const std::exception& error) {
        throw std::runtime_error((where + QStringLiteral(": ") + QString::fromUtf8(error.what())).toStdString());
    }
}
