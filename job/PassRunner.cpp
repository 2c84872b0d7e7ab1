#include "job/PassRunner.h"

#include "job/ImageTable.h"
#include "data/UDataModule.h"

#include <stdexcept>
#include <utility>

PassRunner::PassRunner(TDataModule1& dataModule, const std::atomic<bool>* stop,
                       std::function<void(int rows, bool stored)> groupEnded)
    : dataModule_(dataModule), stop_(stop), groupEnded_(std::move(groupEnded))
{
}

bool PassRunner::run(const PicturePass& pass, const Steps& steps)
{
    dataModule_.OpenQuery(pass.statement);
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

    bool stopped = false;
    try {
        steps.opened();
        for (query.First(); !query.Eof(); query.Next()) {
            if ((stopped = stop_ && *stop_))
                break;
            steps.visit();
        }
        steps.writeInHand();
    } catch (...) {
        // The values in hand are not written; those written before stay,
        // unless the engine has rolled them back, which the listener hears.
        steps.abandon();
        try {
            connection.CommitPosted();
        } catch (const std::exception&) {
        }
        throw;
    }
    commit();
    return !stopped;
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
    try {
        dataModule_.con1.CommitPosted();
    } catch (const std::exception& error) {
        throw std::runtime_error(QStringLiteral("column %1, committing the values written: %2")
                                     .arg(pass_->column, QString::fromUtf8(error.what()))
                                     .toStdString());
    }
}
