#pragma once

#include "child_process.h"
#include "free_port.h"
#include "temp_dir.h"

#include <fstream>
#include <libpq-fe.h>
#include <pwd.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace mirv::test {

// A connection pooler of the test's own in front of a PostgreSQL server on 127.0.0.1:
// `poolMode` "transaction" or "session", `poolSize` server connections per user, trusting the
// `users` it is given, and with `maxDbConnections` (0: no limit) server connections in all,
// shared by those pools. Run as the postgres user when the test runs as root (it refuses root).
// Stopped by its PID when it goes.
class Pgbouncer {
  public:
    Pgbouncer(int serverPort, const std::string& poolMode, const std::vector<std::string>& users,
              int poolSize = 2, int maxDbConnections = 0) {
        std::vector<std::string> asUser;
        if (::geteuid() == 0) {
            const passwd* pw = ::getpwnam("postgres");
            if (!pw)
                throw std::runtime_error("no postgres user to run the pooler as");
            asUser = {"setpriv", "--reuid=" + std::to_string(pw->pw_uid),
                      "--regid=" + std::to_string(pw->pw_gid), "--init-groups", "--"};
            if (::chown(dir_.str().c_str(), pw->pw_uid, pw->pw_gid) != 0)
                throw std::runtime_error("cannot hand " + dir_.str() + " to postgres");
        }
        port_ = freeLoopbackPort();
        const std::string users_file = dir_.str() + "/users.txt";
        std::ofstream(users_file) << [&] {
            std::string lines;
            for (const auto& u : users)
                lines += "\"" + u + "\" \"\"\n";
            return lines;
        }();
        std::ofstream(dir_.str() + "/pgbouncer.ini")
            << "[databases]\npostgres = host=127.0.0.1 port=" << serverPort
            << " dbname=postgres\n[pgbouncer]\nlisten_addr = 127.0.0.1\nlisten_port = " << port_
            << "\nunix_socket_dir =\nauth_type = trust\nauth_file = " << users_file
            << "\npool_mode = " << poolMode << "\ndefault_pool_size = " << poolSize
            << "\nmax_db_connections = " << maxDbConnections
            << "\nmax_client_conn = 2000\nlogfile = " << dir_.str()
            << "/pgbouncer.log\npidfile =\n";
        asUser.insert(asUser.end(), {"/usr/sbin/pgbouncer", dir_.str() + "/pgbouncer.ini"});
        process_.start(withLog(asUser, dir_.str() + "/output.log", true));
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (PQping(conninfo(users.front()).c_str()) != PQPING_OK) {
            if (std::chrono::steady_clock::now() > end || process_.waitForExit({}) != -1)
                throw std::runtime_error("the pooler did not start");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~Pgbouncer() { process_.stop(SIGTERM); }
    Pgbouncer(const Pgbouncer&) = delete;
    Pgbouncer& operator=(const Pgbouncer&) = delete;

    int port() const { return port_; }
    std::string conninfo(const std::string& user) const {
        return "host=127.0.0.1 port=" + std::to_string(port_) + " user=" + user +
               " dbname=postgres connect_timeout=5";
    }

  private:
    TempDir dir_;
    int port_ = 0;
    ChildProcess process_;
};

} // namespace mirv::test
