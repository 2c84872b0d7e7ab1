#pragma once

#include "tests/tds/ScriptedTable.h"
#include "tests/tds/TdsChannel.h"

#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

// One request as the server received it.
struct LoggedStatement {
    int connection;       // 1 for the first client connection
    QString kind;         // "batch", the procedure called ("sp_prepexec"...), "transaction manager", "attention", "failure", "encryption"
    QString text;         // the statement text
    QString declaration;  // the parameters as declared in a parameterised call
    std::vector<RpcParameter> parameters;
    int error = 0;  // the number of the error answered, 0 for none
    bool inTransaction = false;  // the session had a transaction open when it arrived
    bool encrypted = false;      // the request came through TLS
};

// What one client connection moved and cost the server.
struct ConnectionTraffic {
    int connection;
    qint64 requests = 0;  // messages answered, pre-login and login included
    qint64 bytesIn = 0;   // on the socket, TLS records included
    qint64 bytesOut = 0;
    // From a request's arrival to its answer handed to the socket, delays included.
    std::chrono::nanoseconds answering{0};
    // From an answer handed to the socket until the next request has come
    // whole: the client's own time and the request's transfer.
    std::chrono::nanoseconds awaiting{0};
};

// A TDS 7.4 server on 127.0.0.1 (7.3 when it plays 2008 R2) that answers the
// program's statements from a scripted table, the way SQL Server answers them
// where the program depends on it: no encryption unless given a certificate,
// TEXTSIZE 4096 until the client sets it (large values are
// cut to it), transactions kept per connection until committed. A protocol
// test double, not an engine: any statement it does not know fails with
// Msg 2812 naming it, so a new statement shows at once. Serves any number of
// clients at once, one thread each; the destructor stops them all.
class ScriptedTdsServer {
public:
    explicit ScriptedTdsServer(ScriptedTable table = ScriptedTable());
    ~ScriptedTdsServer();
    ScriptedTdsServer(const ScriptedTdsServer&) = delete;
    ScriptedTdsServer& operator=(const ScriptedTdsServer&) = delete;

    quint16 port() const { return port_; }

    // Results of statements matching the pattern (case-insensitive) end after
    // `rows` rows with this error, as when SQL Server fails to read a page.
    void failReadsAfterRows(const QString& statementPattern, int rows,
                            SqlFailure error = {824, 16,
                                                QStringLiteral("SQL Server detected a logical consistency-based I/O error: "
                                                               "incorrect checksum. It occurred during a read of page (1:153) "
                                                               "in database ID 5 at offset 0x00000000132000.")});

    // Statements matching the pattern (case-insensitive) are answered only
    // after this delay, as by a busy or distant server: a run then lasts long
    // enough for its commit interval to pass between rows.
    void delayAnswers(const QString& statementPattern, std::chrono::milliseconds delay);

    // Every request, pre-login and login too, is answered this much later,
    // as across a network with this round trip.
    void delayEveryAnswer(std::chrono::microseconds delay);

    // Large values are sent cut to `bytes` whatever SET TEXTSIZE says, as by
    // a driver or a server in between with a limit of its own.
    void cutLargeValues(qint64 bytes);

    // Plays a server with this certificate, answering pre-login as SQL Server
    // does: all encrypted when the client asks, only the login when it does
    // not, none when it cannot. `force` plays Force Encryption: a client that
    // does not ask is encrypted throughout, one that cannot is dropped. Each
    // answer is logged as "encryption" ("all", "login only", "none" or
    // "dropped") before the client sees it; a failed handshake adds why.
    void useCertificate(const ServerCertificate& certificate, bool force = false);
    // Plays a server that cannot encrypt. By default it has a certificate of
    // its own making, as SQL Server has when given none (where this build has TLS).
    void withoutEncryption();
    // Why the program, which requires encryption, cannot log in to the
    // scripted server in this build; nullptr where it can.
    static const char* unreachableByTheProgram();

    // Called on the connection's thread as each request arrives, before it is
    // answered. The client waits for the answer meanwhile: what it has left
    // on disk then is what a kill at that moment would leave.
    void onRequest(std::function<void(const LoggedStatement&)> hook);

    // Hands each request to `count` as it is logged (under the server's
    // lock, before its error is known) instead of keeping it: log() then
    // holds the last one alone, so that a long run's memory stays flat.
    void countLogInstead(std::function<void(const LoggedStatement&)> count);

    ScriptedTable table() const;  // as committed
    std::vector<TdsLogin> logins() const;  // every login received, refused ones too
    std::vector<LoggedStatement> log() const;
    QStringList statements() const;  // the logged texts, "kind: text" for all but batches
    std::vector<ConnectionTraffic> traffic() const;  // by connection, in the order they came

private:
    class Connection;
    void listen(std::promise<quint16>& port);
    void serve(qintptr descriptor, int number);

    mutable std::mutex mutex_;  // guards the table, the failures, the delays, the limit, the hooks, the logins, the log and the traffic
    ScriptedTable table_;
    std::vector<ReadFailure> failures_;
    std::vector<std::pair<QRegularExpression, std::chrono::milliseconds>> delays_;
    qint64 valueLimit_ = std::numeric_limits<qint64>::max();
    std::function<void(const LoggedStatement&)> hook_;
    std::function<void(const LoggedStatement&)> countLog_;
    std::vector<TdsLogin> logins_;
    std::vector<LoggedStatement> log_;
    std::vector<ConnectionTraffic> traffic_;
    std::chrono::microseconds answerDelay_{0};
    std::optional<ServerCertificate> certificate_;
    bool forceEncryption_ = false;

    std::atomic<bool> stopping_{false};
    std::vector<std::thread> connections_;  // touched by the listening thread only until it ends
    std::thread listener_;
    quint16 port_ = 0;
};
