#pragma once

#include <QString>

#include <future>
#include <thread>

// What a client put into its TDS login.
struct TdsLogin {
    QString user;
    QString password;
    QString database;
};

// Listens on a local port for one client, answers its pre-login with "no
// encryption" and records the login it sends, then hangs up. Enough of TDS to
// see the values exactly as an ODBC driver passed them on.
class FakeTdsServer {
public:
    FakeTdsServer();
    ~FakeTdsServer();
    FakeTdsServer(const FakeTdsServer&) = delete;
    FakeTdsServer& operator=(const FakeTdsServer&) = delete;

    quint16 port() const { return port_; }
    // The login received; throws when none came within a few seconds.
    TdsLogin login();

private:
    void serve(std::promise<quint16>& listening);

    std::promise<TdsLogin> login_;
    std::thread thread_;
    quint16 port_ = 0;
};
