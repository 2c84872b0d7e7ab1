#include "tests/tds/ScriptedTdsServer.h"

#include "tests/tds/SqlValues.h"
#include "tests/tds/TdsTokenWriter.h"
#include "tests/tds/TestCertificates.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTcpSocket>
#include <QtEndian>

#include <future>
#include <map>

namespace {

constexpr quint8 tabularResult = 4;

// Hands each accepted socket to `accepted` instead of queueing it.
class Acceptor : public QTcpServer {
public:
    explicit Acceptor(std::function<void(qintptr)> accepted) : accepted_(std::move(accepted)) {}

protected:
    void incomingConnection(qintptr descriptor) override { accepted_(descriptor); }

private:
    std::function<void(qintptr)> accepted_;
};

// The pre-login ENCRYPTION values.
enum Encryption : quint8 { EncryptOff = 0, EncryptOn = 1, EncryptNotSupported = 2, EncryptRequired = 3 };

// The server's version and its answer for encryption.
QByteArray preLoginReply(const QString& version, quint8 encryption)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    QByteArray reply = QByteArray::fromHex("00000b0006" "0100110001" "ff");
    for (int i = 0; i < 2; ++i)
        reply += char(parts.value(i).toUInt());
    const quint16 build = qToBigEndian(quint16(parts.value(2).toUInt()));
    reply += QByteArray(reinterpret_cast<const char*>(&build), 2) + QByteArray(2, '\0') + char(encryption);
    return reply;
}

// The client's ENCRYPTION option; off when it sends none.
quint8 askedEncryption(const QByteArray& payload)
{
    for (qsizetype at = 0; at + 5 <= payload.size() && quint8(payload[at]) != 0xFF; at += 5) {
        const quint16 offset = qFromBigEndian<quint16>(payload.constData() + at + 1);
        const quint16 length = qFromBigEndian<quint16>(payload.constData() + at + 3);
        if (payload[at] == 1 && length >= 1 && offset < payload.size())
            return quint8(payload[offset]);
    }
    return EncryptOff;
}

// SQL Server's answer to what the client asked; nullopt: it hangs up.
std::optional<quint8> encryptionAnswer(quint8 asked, bool certificate, bool force)
{
    if (!certificate)
        return EncryptNotSupported;
    switch (asked) {
    case EncryptOn:
    case EncryptRequired: return EncryptOn;
    case EncryptNotSupported: return force ? std::nullopt : std::optional<quint8>(EncryptNotSupported);
    default: return force ? EncryptRequired : EncryptOff;
    }
}

// Microsoft's drivers declare Qt's byte arrays (SQL_LONGVARBINARY) as image
// where FreeTDS declares varbinary(max).
void declareAsMicrosoft(QString& declaration, std::vector<RpcParameter>& parameters)
{
    static const QRegularExpression maxBinary(QStringLiteral(R"(\bvarbinary\s*\(\s*max\s*\))"), QRegularExpression::CaseInsensitiveOption);
    declaration.replace(maxBinary, QStringLiteral("image"));
    for (RpcParameter& p : parameters) {
        if (maxBinary.match(p.type).hasMatch())
            p.type = QStringLiteral("image");
    }
}

QByteArray transactionDescriptor(quint64 serial)
{
    QByteArray bytes(8, '\0');
    qToLittleEndian(serial, bytes.data());
    return bytes;
}

} // namespace

// One client: its session and the requests it sends, answered in order.
class ScriptedTdsServer::Connection {
public:
    Connection(ScriptedTdsServer& server, TdsChannel& channel, int number) : server_(server), channel_(channel), number_(number) {}

    bool answer(const TdsMessage& message);

private:
    void send(const QByteArray& tokens);
    bool preLogin(const QByteArray& payload);
    void log(LoggedStatement statement);
    bool login(const QByteArray& payload);
    void write(const std::vector<StatementReply>& replies, bool inProcedure);
    void writeTransaction(char change);
    void call(const RpcCall& call);
    std::vector<StatementReply> run(const QString& kind, const QString& text, const QString& declaration,
                                    std::vector<RpcParameter> parameters, bool procedureScope);
    void note(const QString& kind, const QString& text, std::vector<RpcParameter> parameters = {});

    ScriptedTdsServer& server_;
    TdsChannel& channel_;
    int number_;
    bool encryptLoginOnly_ = false;
    bool encryptedRequest_ = false;  // the request being answered came through TLS
    int packetSize_ = 4096;
    ScriptedSession session_;
    std::map<qint32, std::pair<QString, QString>> prepared_;  // handle: statement, declaration
    qint32 nextHandle_ = 1;
    quint64 transactions_ = 0;
    TdsTokenWriter out_;
};

void ScriptedTdsServer::Connection::send(const QByteArray& tokens)
{
    SendTdsPackets(tabularResult, tokens, packetSize_, [this](const QByteArray& packets) { channel_.write(packets); });
}

// Called with the server's mutex held.
void ScriptedTdsServer::Connection::log(LoggedStatement statement)
{
    statement.encrypted = encryptedRequest_;
    if (server_.countLog_) {
        server_.countLog_(statement);
        server_.log_.clear();  // the last stays, for its error
    }
    server_.log_.push_back(std::move(statement));
}

bool ScriptedTdsServer::Connection::preLogin(const QByteArray& payload)
{
    std::optional<ServerCertificate> certificate;
    bool force = false;
    QString version;
    {
        std::lock_guard lock(server_.mutex_);
        certificate = server_.certificate_;
        force = server_.forceEncryption_;
        version = server_.table_.serverVersion;
    }
    const std::optional<quint8> answer = encryptionAnswer(askedEncryption(payload), certificate.has_value(), force);
    encryptLoginOnly_ = answer == EncryptOff;
    const auto note = [&](const QString& what) {
        if (certificate) {
            std::lock_guard lock(server_.mutex_);
            log({number_, QStringLiteral("encryption"), what, {}, {}});
        }
    };
    note(!answer                           ? QStringLiteral("dropped")
         : *answer == EncryptNotSupported ? QStringLiteral("none")
         : encryptLoginOnly_              ? QStringLiteral("login only")
                                          : QStringLiteral("all"));
    if (!answer)
        return false;
    channel_.write(TdsPackets(tabularResult, preLoginReply(version, *answer), packetSize_));
    QString failure;
    if (*answer != EncryptNotSupported && !channel_.startTls(*certificate, failure)) {
        note(failure);
        return false;
    }
    return true;
}

bool ScriptedTdsServer::Connection::login(const QByteArray& payload)
{
    const TdsLogin login = ParseLogin7(payload);
    if (encryptLoginOnly_)
        channel_.stopTls();  // the answer already goes in clear
    packetSize_ = std::clamp(login.packetSize, 512, 32767);
    const QString database = login.database.isEmpty() ? QStringLiteral("master") : login.database;
    QString version;
    QString collation;
    {
        std::lock_guard lock(server_.mutex_);
        version = server_.table_.serverVersion;
        collation = server_.table_.databaseCollation;
        server_.logins_.push_back(login);
        log({number_, QStringLiteral("login"), login.user + QLatin1Char('@') + database, {}, {}});
        if (!server_.table_.databases.contains(database, Qt::CaseInsensitive)) {
            out_.error({4060, 11, QStringLiteral("Cannot open database \"%1\" requested by the login. The login failed.").arg(database)});
            out_.error({18456, 14, QStringLiteral("Login failed for user '%1'.").arg(login.user)});
            out_.done(TdsTokenWriter::Done, TdsTokenWriter::Failed, 0, 0);
            send(out_.take());
            return false;
        }
    }
    session_.database = database;
    out_.envChange(TdsTokenWriter::Database, database, QStringLiteral("master"));
    out_.info(5701, QStringLiteral("Changed database context to '%1'.").arg(database));
    out_.setDatabaseCollation(collation);
    out_.envChange(TdsTokenWriter::Collation, CollationInfo(collation), QByteArray());
    out_.envChange(TdsTokenWriter::Language, QStringLiteral("us_english"), QString());
    out_.info(5703, QStringLiteral("Changed language setting to us_english."));
    out_.loginAck(version);
    out_.envChange(TdsTokenWriter::PacketSize, QString::number(packetSize_), QString::number(packetSize_));
    out_.done(TdsTokenWriter::Done, 0, 0, 0);
    send(out_.take());
    return true;
}

void ScriptedTdsServer::Connection::writeTransaction(char change)
{
    if (change == 'B')
        out_.envChange(TdsTokenWriter::BeginTransaction, transactionDescriptor(++transactions_), QByteArray());
    else if (change)
        out_.envChange(change == 'C' ? TdsTokenWriter::CommitTransaction : TdsTokenWriter::RollbackTransaction, QByteArray(),
                       transactionDescriptor(transactions_));
}

void ScriptedTdsServer::Connection::write(const std::vector<StatementReply>& replies, bool inProcedure)
{
    qint64 textSize = session_.textSize;
    {
        std::lock_guard lock(server_.mutex_);
        textSize = std::min(textSize, server_.valueLimit_);
    }
    for (size_t i = 0; i < replies.size(); ++i) {
        const StatementReply& reply = replies[i];
        if (reply.database) {
            out_.envChange(TdsTokenWriter::Database, *reply.database, QString());
            out_.info(5701, QStringLiteral("Changed database context to '%1'.").arg(*reply.database));
        }
        writeTransaction(reply.transaction);
        if (reply.result) {
            out_.columns(reply.result->columns);
            for (const SqlRow& row : reply.result->rows)
                out_.row(reply.result->columns, row, textSize);
        }
        if (reply.error)
            out_.error(*reply.error);
        const bool more = inProcedure || i + 1 < replies.size();
        const quint16 status = (more ? TdsTokenWriter::More : 0) | (reply.error ? TdsTokenWriter::Failed : 0) |
                               (reply.count >= 0 && !reply.error && !session_.noCount ? TdsTokenWriter::Count : 0);
        out_.done(inProcedure ? TdsTokenWriter::DoneInProc : TdsTokenWriter::Done, status, reply.result ? 0xC1 : 0,
                  quint64(std::max<qint64>(reply.count, 0)));
    }
    if (replies.empty() && !inProcedure)
        out_.done(TdsTokenWriter::Done, 0, 0, 0);
}

void ScriptedTdsServer::Connection::note(const QString& kind, const QString& text, std::vector<RpcParameter> parameters)
{
    std::lock_guard lock(server_.mutex_);
    log({number_, kind, text, QString(), std::move(parameters)});
}

std::vector<StatementReply> ScriptedTdsServer::Connection::run(const QString& kind, const QString& text, const QString& declaration,
                                                               std::vector<RpcParameter> parameters, bool procedureScope)
{
    std::chrono::milliseconds delay{0};
    std::function<void(const LoggedStatement&)> hook;
    {
        std::lock_guard lock(server_.mutex_);
        for (const auto& [pattern, wait] : server_.delays_) {
            if (pattern.match(text).hasMatch())
                delay = std::max(delay, wait);
        }
        hook = server_.hook_;
    }
    if (hook)
        hook({number_, kind, text, declaration, parameters});
    std::this_thread::sleep_for(delay);  // unlocked: other connections go on meanwhile
    // SET options changed inside a procedure or sp_executesql end with it.
    const ScriptedSession outer = session_;
    std::lock_guard lock(server_.mutex_);
    QString declared = declaration;
    if (server_.table_.microsoftParameterTypes)
        declareAsMicrosoft(declared, parameters);
    log({number_, kind, text, declared, parameters, 0, session_.inTransaction});
    std::vector<StatementReply> replies = RunScripted(server_.table_, server_.failures_, session_, text, parameters);
    if (!replies.empty() && replies.back().error)
        server_.log_.back().error = replies.back().error->number;
    if (procedureScope) {
        session_.textSize = outer.textSize;
        session_.noCount = outer.noCount;
    }
    return replies;
}

void ScriptedTdsServer::Connection::call(const RpcCall& call)
{
    const auto& p = call.parameters;
    const auto text = [&](size_t i) { return i < p.size() ? p[i].value.toString() : QString(); };
    const auto values = [&](size_t from) {
        return std::vector<RpcParameter>(p.begin() + std::min(from, p.size()), p.end());
    };
    std::vector<StatementReply> replies;
    std::optional<qint32> handle;
    if (call.procedure == QLatin1String("sp_executesql")) {
        replies = run(call.procedure, text(0), text(1), values(2), true);
    } else if (call.procedure == QLatin1String("sp_prepexec") || call.procedure == QLatin1String("sp_prepare")) {
        handle = nextHandle_++;
        prepared_[*handle] = {text(2), text(1)};
        if (call.procedure == QLatin1String("sp_prepexec"))
            replies = run(call.procedure, text(2), text(1), values(3), true);
        else
            note(call.procedure, text(2));
    } else if (call.procedure == QLatin1String("sp_execute") && !p.empty() && prepared_.count(p[0].value.toInt())) {
        const auto& [statement, declaration] = prepared_[p[0].value.toInt()];
        replies = run(call.procedure, statement, declaration, values(1), true);
    } else if (call.procedure == QLatin1String("sp_unprepare") && !p.empty()) {
        prepared_.erase(p[0].value.toInt());
        note(call.procedure, QString::number(p[0].value.toInt()));
    } else {
        // Qt's ODBC driver sends its SET QUOTED_IDENTIFIER ON through a server cursor; logged with its text.
        note(call.procedure, call.procedure == QLatin1String("sp_cursoropen") ? text(1) : QString(), p);
        std::lock_guard lock(server_.mutex_);
        server_.log_.back().error = 2812;
        replies.push_back({});
        replies.back().error = SqlFailure{2812, 16, QStringLiteral("Could not find stored procedure '%1'.").arg(call.procedure)};
    }
    write(replies, true);
    const bool failed = std::any_of(replies.begin(), replies.end(), [](const StatementReply& r) { return r.error.has_value(); });
    out_.returnStatus(failed ? 1 : 0);
    if (handle)
        out_.returnInt(0, p.empty() ? QString() : p[0].name, *handle);
    out_.done(TdsTokenWriter::DoneProc, failed ? TdsTokenWriter::Failed : 0, 0, 0);
}

bool ScriptedTdsServer::Connection::answer(const TdsMessage& message)
{
    encryptedRequest_ = message.encrypted;
    try {
        switch (message.type) {
        case PreLogin:
            return preLogin(message.payload);
        case Login7:
            return login(message.payload);
        case SqlBatch:
            write(run(QStringLiteral("batch"), ParseSqlBatch(message.payload), QString(), {}, false), false);
            break;
        case Rpc:
            call(ParseRpc(message.payload));
            break;
        case Attention:
            note(QStringLiteral("attention"), QString());
            out_.done(TdsTokenWriter::Done, TdsTokenWriter::Attention, 0, 0);
            break;
        case TransactionManager: {
            const TransactionRequest request = ParseTransactionRequest(message.payload);
            const QString statement = request.kind == 5   ? QStringLiteral("begin transaction")
                                      : request.kind == 7 ? QStringLiteral("commit transaction")
                                                          : QStringLiteral("if @@trancount > 0 rollback transaction");
            std::vector<StatementReply> replies = run(QStringLiteral("transaction manager"), statement, QString(), {}, false);
            if (request.beginAnother)
                replies.push_back(run(QStringLiteral("transaction manager"), QStringLiteral("begin transaction"), QString(), {}, false).front());
            bool failed = false;
            for (const StatementReply& reply : replies) {
                writeTransaction(reply.transaction);
                if (reply.error)
                    out_.error(*reply.error);
                failed = failed || reply.error;
            }
            out_.done(TdsTokenWriter::Done, failed ? TdsTokenWriter::Failed : 0, 0, 0);
            break;
        }
        default:
            throw std::runtime_error("message type " + std::to_string(message.type) + " is not answered by the scripted server");
        }
    } catch (const std::exception& e) {
        // Shown to the client as an error and kept in the log, so that tests see it.
        const QString text = QString::fromUtf8(e.what());
        {
            std::lock_guard lock(server_.mutex_);
            log({number_, QStringLiteral("failure"), text, {}, {}});
        }
        out_.take();
        out_.error({50000, 16, text});
        out_.done(TdsTokenWriter::Done, TdsTokenWriter::Failed, 0, 0);
    }
    send(out_.take());
    return true;
}

namespace {

// SQL Server makes itself a certificate when given none: the server has one
// by default, made once per test process.
std::optional<ServerCertificate> selfMadeCertificate()
{
    if (!TdsChannel::tlsAvailable())
        return std::nullopt;
    static const ServerCertificate made = [] {
        const QTemporaryDir folder;
        return MakeTestCertificates(folder.path()).server;
    }();
    return made;
}

}  // namespace

ScriptedTdsServer::ScriptedTdsServer(ScriptedTable table) : table_(std::move(table)), certificate_(selfMadeCertificate())
{
    std::promise<quint16> listening;
    std::future<quint16> port = listening.get_future();
    listener_ = std::thread([this, &listening] { listen(listening); });
    port_ = port.get();
}

ScriptedTdsServer::~ScriptedTdsServer()
{
    stopping_ = true;
    listener_.join();
    for (std::thread& connection : connections_)
        connection.join();
}

void ScriptedTdsServer::listen(std::promise<quint16>& port)
{
    int served = 0;
    Acceptor acceptor([&](qintptr descriptor) {
        connections_.emplace_back([this, descriptor, number = ++served] { serve(descriptor, number); });
    });
    if (!acceptor.listen(QHostAddress::LocalHost)) {
        port.set_exception(std::make_exception_ptr(std::runtime_error("the scripted TDS server cannot listen")));
        return;
    }
    port.set_value(acceptor.serverPort());
    while (!stopping_)
        acceptor.waitForNewConnection(100);  // wakes to see whether to stop
}

void ScriptedTdsServer::serve(qintptr descriptor, int number)
{
    QTcpSocket socket;
    socket.setSocketDescriptor(descriptor);
    // As SQL Server: a large answer goes out in pieces, and Nagle's algorithm
    // would hold each piece's last segment back until the client acknowledged.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    TdsChannel channel(socket, stopping_);
    Connection connection(*this, channel, number);
    size_t slot = 0;
    std::chrono::microseconds delay{0};
    {
        std::lock_guard lock(mutex_);
        slot = traffic_.size();
        traffic_.push_back({number});
        delay = answerDelay_;
    }
    using Clock = std::chrono::steady_clock;
    Clock::time_point answered = Clock::now();
    while (const std::optional<TdsMessage> message = channel.read()) {
        const Clock::time_point arrived = Clock::now();
        std::this_thread::sleep_for(delay);
        const bool goOn = connection.answer(*message);
        const Clock::time_point now = Clock::now();
        {
            std::lock_guard lock(mutex_);
            ConnectionTraffic& traffic = traffic_[slot];
            ++traffic.requests;
            traffic.bytesIn = channel.bytesIn();
            traffic.bytesOut = channel.bytesOut();
            traffic.answering += now - arrived;
            traffic.awaiting += arrived - answered;
        }
        answered = now;
        if (!goOn)
            break;
    }
    socket.disconnectFromHost();
    // An open transaction ends with the connection, its changes dropped.
}

void ScriptedTdsServer::failReadsAfterRows(const QString& statementPattern, int rows, SqlFailure error)
{
    std::lock_guard lock(mutex_);
    failures_.push_back({QRegularExpression(statementPattern, QRegularExpression::CaseInsensitiveOption), rows, std::move(error)});
}

void ScriptedTdsServer::delayAnswers(const QString& statementPattern, std::chrono::milliseconds delay)
{
    std::lock_guard lock(mutex_);
    delays_.emplace_back(QRegularExpression(statementPattern, QRegularExpression::CaseInsensitiveOption), delay);
}

void ScriptedTdsServer::delayEveryAnswer(std::chrono::microseconds delay)
{
    std::lock_guard lock(mutex_);
    answerDelay_ = delay;
}

void ScriptedTdsServer::cutLargeValues(qint64 bytes)
{
    std::lock_guard lock(mutex_);
    valueLimit_ = bytes;
}

void ScriptedTdsServer::useCertificate(const ServerCertificate& certificate, bool force)
{
    std::lock_guard lock(mutex_);
    certificate_ = certificate;
    forceEncryption_ = force;
}

void ScriptedTdsServer::withoutEncryption()
{
    std::lock_guard lock(mutex_);
    certificate_.reset();
    forceEncryption_ = false;
}

const char* ScriptedTdsServer::unreachableByTheProgram()
{
    return TdsChannel::tlsAvailable() ? nullptr : "the program requires encryption, which this build of the scripted server cannot play";
}

void ScriptedTdsServer::onRequest(std::function<void(const LoggedStatement&)> hook)
{
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

void ScriptedTdsServer::countLogInstead(std::function<void(const LoggedStatement&)> count)
{
    std::lock_guard lock(mutex_);
    countLog_ = std::move(count);
}

std::vector<TdsLogin> ScriptedTdsServer::logins() const
{
    std::lock_guard lock(mutex_);
    return logins_;
}

ScriptedTable ScriptedTdsServer::table() const
{
    std::lock_guard lock(mutex_);
    return table_;
}

std::vector<LoggedStatement> ScriptedTdsServer::log() const
{
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<ConnectionTraffic> ScriptedTdsServer::traffic() const
{
    std::lock_guard lock(mutex_);
    return traffic_;
}

QStringList ScriptedTdsServer::statements() const
{
    QStringList texts;
    for (const LoggedStatement& s : log())
        texts << (s.kind == QLatin1String("batch") ? s.text : s.kind + QStringLiteral(": ") + s.text);
    return texts;
}
