#pragma once

#include "child_process.h"
#include "free_port.h"
#include "temp_dir.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <libpq-fe.h>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mirv::test {

// A PostgreSQL server of the test's own: a fresh cluster in a temporary folder, listening on a
// free port of 127.0.0.1 only, trusting local connections as the superuser "postgres". Run as
// the unprivileged postgres user when the test runs as root. Stopped by its PID when it goes.
class PostgresServer {
  public:
    // `settings` are extra `-c name=value` server settings.
    explicit PostgresServer(std::vector<std::string> settings = {"fsync=off"})
        : settings_(std::move(settings)) {
        if (::geteuid() == 0) {
            const passwd* pw = ::getpwnam("postgres");
            if (!pw)
                throw std::runtime_error("no postgres user to run the server as");
            asUser_ = {"setpriv", "--reuid=" + std::to_string(pw->pw_uid),
                       "--regid=" + std::to_string(pw->pw_gid), "--init-groups", "--"};
            if (::chown(dir_.str().c_str(), pw->pw_uid, pw->pw_gid) != 0)
                throw std::runtime_error("cannot hand " + dir_.str() + " to postgres");
        }
        ChildProcess initdb(command({MIRV_PG_BIN "/initdb", "-D", dataDir(), "-U", "postgres", "-A",
                                     "trust", "-E", "UTF8", "--locale=C", "--no-sync"},
                                    "initdb.log"));
        const int status = initdb.waitForExit(std::chrono::seconds(60));
        if (status != 0)
            throw std::runtime_error("initdb failed: " + log("initdb.log"));
        port_ = freeLoopbackPort();
        start();
    }
    ~PostgresServer() { stop(); }
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Starts the server (again, after kill() or stop()) and waits until it takes connections.
    void start() {
        std::vector<std::string> argv{MIRV_PG_BIN "/postgres",     "-D", dataDir(),  "-p",
                                      std::to_string(port_),       "-k", dir_.str(), "-c",
                                      "listen_addresses=127.0.0.1"};
        // Shared memory in files of the cluster, so that a killed server leaves none behind.
        std::vector<std::string> settings{"dynamic_shared_memory_type=mmap"};
        settings.insert(settings.end(), settings_.begin(), settings_.end());
        for (const auto& s : settings) {
            argv.push_back("-c");
            argv.push_back(s);
        }
        server_.start(command(argv, "server.log"));
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (PQping(conninfo().c_str()) != PQPING_OK) {
            if (std::chrono::steady_clock::now() > end || server_.waitForExit({}) != -1)
                throw std::runtime_error("the server did not start: " + log("server.log"));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    // Ends it at once, as a crash would: every connection drops, nothing is checkpointed.
    void kill() { server_.stop(SIGQUIT); }
    // A fast, clean shutdown; its checkpoint may take a while after a bulk load. Every server
    // process has ended when it returns, so the folder can go.
    void stop() {
        if (!server_.running())
            return;
        ::kill(server_.pid(), SIGINT);
        if (server_.waitForExit(std::chrono::minutes(2)) == -1)
            server_.stop(SIGQUIT);
    }

    int port() const { return port_; }
    std::string conninfo(const std::string& database = "postgres") const {
        return "host=127.0.0.1 port=" + std::to_string(port_) +
               " user=postgres dbname=" + database + " connect_timeout=5";
    }

  private:
    std::string dataDir() const { return (dir_.path() / "data").string(); }

    std::string log(const std::string& name) const {
        std::ifstream in(dir_.path() / name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // The program as the server's user, its output appended to `logName` in the folder.
    std::vector<std::string> command(const std::vector<std::string>& program,
                                     const std::string& logName) const {
        std::vector<std::string> argv = asUser_;
        argv.insert(argv.end(), program.begin(), program.end());
        return withLog(argv, (dir_.path() / logName).string(), true);
    }

    TempDir dir_;
    std::vector<std::string> settings_;
    std::vector<std::string> asUser_;
    int port_ = 0;
    ChildProcess server_;
};

// A connection for checking what the server holds.
class PgConnection {
  public:
    explicit PgConnection(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {
        if (PQstatus(conn_) != CONNECTION_OK)
            throw std::runtime_error(PQerrorMessage(conn_));
    }
    ~PgConnection() { PQfinish(conn_); }
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // The rows of a query, NULL as "NULL"; throws when it fails.
    std::vector<std::vector<std::string>> rows(const std::string& sql,
                                               const std::vector<std::string>& params = {}) {
        std::vector<const char*> values;
        for (const auto& p : params)
            values.push_back(p.c_str());
        PGresult* r = PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                   values.data(), nullptr, nullptr, 0);
        const auto status = PQresultStatus(r);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
            const std::string error = PQresultErrorMessage(r);
            PQclear(r);
            throw std::runtime_error(sql + ": " + error);
        }
        std::vector<std::vector<std::string>> out(PQntuples(r));
        for (int i = 0; i < PQntuples(r); ++i)
            for (int c = 0; c < PQnfields(r); ++c)
                out[i].push_back(PQgetisnull(r, i, c) ? "NULL" : PQgetvalue(r, i, c));
        PQclear(r);
        return out;
    }
    // Runs a script of several statements (no parameters); throws when one fails.
    void exec(const std::string& script) {
        if (const std::string error = tryExec(script); !error.empty())
            throw std::runtime_error(error);
    }
    // Runs a script; why it failed, or nothing when it did not.
    std::string tryExec(const std::string& script) {
        PGresult* r = PQexec(conn_, script.c_str());
        const auto status = PQresultStatus(r);
        std::string error;
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
            error = PQresultErrorMessage(r);
        PQclear(r);
        return error;
    }
    // The single value of a query.
    std::string value(const std::string& sql, const std::vector<std::string>& params = {}) {
        const auto r = rows(sql, params);
        return r.empty() || r[0].empty() ? std::string() : r[0][0];
    }

  private:
    PGconn* conn_;
};

} // namespace mirv::test
