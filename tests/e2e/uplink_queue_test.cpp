// A call that waits in a pooler's queue is told from one to a server that went silent: the
// first goes on past the uplink's bound (set to 2 s here) while the pooler's link answers,
// the second is given up within the bound once the link swallows everything.
#include "pgbouncer.h"
#include "tcp_relay.h"
#include "uplink_support.h"

#include <thread>

namespace mirv {
namespace {

using namespace e2e;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits until one session on the server matches `condition` (on pg_stat_activity).
bool waitForSession(const test::PostgresServer& pg, const std::string& condition) {
    test::PgConnection watch(pg.conninfo());
    const auto end = Clock::now() + 30s;
    while (watch.value("SELECT count(*) FROM pg_stat_activity WHERE " + condition) != "1")
        if (Clock::now() > end)
            return false;
        else
            std::this_thread::sleep_for(50ms);
    return true;
}

TEST(UplinkQueue, AQueuedRunWaitsPastTheBoundAndASilentLinkIsGivenUpWithinIt) {
    test::PostgresServer pg;
    setUpRoles(pg, {"a", "b"});
    const std::vector<std::string> bound{"--once", "--answer-within", "2"};

    // The pooler's one server connection is busy for 5 s: the run's login and statements queue.
    test::Pgbouncer pool(pg.port(), "transaction", {"st_a", "st_b"}, 1, 1);
    std::thread busy([&] {
        test::PgConnection holder(pool.conninfo("st_b"));
        holder.exec("SELECT pg_sleep(5)");
    });
    ASSERT_TRUE(waitForSession(pg, "query = 'SELECT pg_sleep(5)' AND state = 'active'"));
    UplinkFolder queued("a", pool.conninfo("st_a"));
    queued.appendRows(0, 99);
    const auto start = Clock::now();
    test::ChildProcess run(queued.command(bound));
    const int status = run.waitForExit(60s);
    const double waited = secondsSince(start);
    busy.join();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << joined(queued.errorLines());
    EXPECT_GT(waited, 3.0);
    expectCentralHoldsExactly(pg, "a", queued.localRows());

    // Waiting on a lock the owner holds, over a link that then swallows everything.
    test::TcpRelay relay(pg.port());
    UplinkFolder silent("b", relay.conninfo("st_b"));
    silent.appendRows(0, 99);
    test::PgConnection admin(pg.conninfo());
    admin.exec("BEGIN; LOCK TABLE stations IN ACCESS EXCLUSIVE MODE");
    test::ChildProcess stalled(silent.command(bound));
    ASSERT_TRUE(
        waitForSession(pg, "application_name = 'mirv-uplink' AND wait_event_type = 'Lock'"));
    std::this_thread::sleep_for(2500ms); // past the bound, on a link that answers
    relay.freeze();
    const auto frozen = Clock::now();
    const int given = stalled.waitForExit(30s);
    EXPECT_LT(secondsSince(frozen), 4.5);
    EXPECT_TRUE(WIFEXITED(given) && WEXITSTATUS(given) == 1);
    EXPECT_EQ(silent.linesContaining("server unreachable: the server did not answer within 2 s"), 1)
        << joined(silent.errorLines());
}

} // namespace
} // namespace mirv
