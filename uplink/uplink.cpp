#include "uplink.h"

#include "local_instant.h"
#include "local_meters.h"
#include "pg_result.h"

#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace mirv {

namespace {

UplinkState stateOf(CentralFailure::Kind kind) {
    switch (kind) {
    case CentralFailure::Kind::Unreachable:
        return UplinkState::ServerUnreachable;
    case CentralFailure::Kind::Refused:
        return UplinkState::ServerRefused;
    case CentralFailure::Kind::Rejected:
        return UplinkState::ServerRejected;
    case CentralFailure::Kind::StationBusy:
        return UplinkState::StationBusy;
    case CentralFailure::Kind::OtherStation:
        return UplinkState::OtherStation;
    case CentralFailure::Kind::OtherFolder:
        return UplinkState::OtherFolder;
    case CentralFailure::Kind::Misconfigured:
        return UplinkState::Misconfigured;
    case CentralFailure::Kind::PoolerBusy:
        return UplinkState::PoolerBusy;
    }
    return UplinkState::ServerRejected;
}

std::string describe(const CentralFailure& f) {
    switch (f.kind) {
    case CentralFailure::Kind::Unreachable:
        return "server unreachable: " + f.message;
    case CentralFailure::Kind::Refused:
        return "server refused the connection: " + f.message;
    case CentralFailure::Kind::Rejected:
        return "server error: " + f.message;
    case CentralFailure::Kind::PoolerBusy:
        return "pooler busy: " + f.message;
    case CentralFailure::Kind::StationBusy:
    case CentralFailure::Kind::OtherStation:
    case CentralFailure::Kind::OtherFolder:
    case CentralFailure::Kind::Misconfigured:
        return f.message;
    }
    return f.message;
}

// What retrying cannot fix.
bool fatal(CentralFailure::Kind kind) {
    return kind == CentralFailure::Kind::OtherStation ||
           kind == CentralFailure::Kind::OtherFolder || kind == CentralFailure::Kind::Misconfigured;
}

// This PC and the file read: tells two PCs (or folders) given the same identity apart.
std::string originOf(const std::string& databasePath) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        host[0] = '\0';
    std::error_code ec;
    const auto path = std::filesystem::absolute(databasePath, ec);
    return std::string(host) + ":" + (ec ? databasePath : path.lexically_normal().string());
}

} // namespace

Uplink::Uplink(const UplinkConfig& config, std::string identity, std::string databasePath,
               UplinkOptions options, std::function<void(const std::string&)> say)
    : station_(config.station), local_(std::move(databasePath)),
      central_(config.conninfo,
               {config.station, std::move(identity),
                config.zone.empty() ? systemZoneName() : config.zone,
                originOf(local_.databasePath())},
               say),
      options_(std::move(options)), say_(std::move(say)), status_(say_),
      retryDelay_(options_.firstRetry, options_.maxRetry), batchSize_(options_.batchRows),
      linkstats_{&LocalHistory::readLinkstatsAfter,
                 &CentralStore::storeLinkstats,
                 "local Linkstats purged, restored or replaced: forwarding it again from its "
                 "first row; rows the server holds already are left out",
                 "Linkstats rows",
                 " not stored: the server holds other counts under their meter and hour",
                 {},
                 0,
                 0},
      events_{&LocalHistory::readEventsAfter,
              &CentralStore::storeEvents,
              "local Events purged, restored or replaced: forwarding them again from the first; "
              "events the server holds under their IDs already are left out",
              "events",
              " not stored: the server holds other events under their IDs",
              {},
              0,
              0} {}

Uplink::~Uplink() {
    discardReadAhead();
    if (folderLock_ >= 0)
        ::close(folderLock_);
}

bool Uplink::holdFolder() {
    if (folderLock_ >= 0 || options_.folderLock.empty())
        return true;
    const int fd = ::open(options_.folderLock.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true; // nothing to share: the caller made the file
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    folderLock_ = fd;
    return true;
}

int Uplink::run(const std::atomic<bool>& stop) {
    stopWaitingWhen(&stop);
    stop_ = &stop;
    while (!stop) {
        switch (forwardOnce()) {
        case Step::Continue:
            break;
        case Step::Idle:
            pause(options_.interval, stop);
            break;
        case Step::Done:
            say_("up to date: " + std::to_string(rowsRead_) + " rows read, " +
                 std::to_string(rowsAdded_) + " new on the server; " +
                 std::to_string(linkstats_.read) + " Linkstats rows read, " +
                 std::to_string(linkstats_.added) + " new; " + std::to_string(events_.read) +
                 " events read, " + std::to_string(events_.added) + " new");
            return 0;
        case Step::Failed:
            if (stop)
                break; // a wait that the stop ended
            // A busy pooler is worth the retry even with `once`: its queue moves.
            if (options_.once && !(poolerBusy_ && onceRetries_-- > 0))
                return 1;
            pause(retryDelay_.next(), stop);
            break;
        case Step::Fatal:
            discardReadAhead();
            stopWaitingWhen(nullptr);
            return 2;
        }
    }
    discardReadAhead();
    stopWaitingWhen(nullptr);
    return 0;
}

Uplink::Step Uplink::forwardOnce() {
    poolerBusy_ = false;
    if (!central_.isOpen()) {
        discardReadAhead();
        if (!holdFolder())
            return failed(UplinkState::StationBusy, "another uplink is forwarding station '" +
                                                        station_ + "' from this program folder");
        if (auto failure = central_.open())
            return failedCentrally(*failure);
        from_ = central_.mark();
        linkstats_.from = central_.linkstatsMark();
        events_.from = central_.eventsMark();
        lastHeard_ = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - lastHeard_ >= options_.heartbeat) {
        // Also while there is nothing to forward: a quiet station is told from a dead uplink,
        // and a connection that went away is found.
        if (auto failure = central_.heartbeat())
            return failedCentrally(*failure);
        lastHeard_ = std::chrono::steady_clock::now();
    }
    const int asked = readAhead_.valid() ? readAheadRows_ : batchSize_.rows();
    LocalBatch batch = readAhead_.valid() ? readAhead_.get() : local_.readAfter(from_, asked);
    switch (batch.outcome) {
    case LocalBatch::Outcome::Missing:
    case LocalBatch::Outcome::Locked:
    case LocalBatch::Outcome::Unreadable:
        return failedLocally(batch);
    case LocalBatch::Outcome::HistoryChanged:
        if (const Step step = refuseOtherFiles(); step != Step::Continue)
            return step;
        say_("local history purged, restored or replaced: forwarding it again from its first "
             "row; rows the server holds already are left out");
        // The mark goes back to the start on the server too, so a restart does not repeat this.
        batch.end = {};
        return storeBatch(batch);
    case LocalBatch::Outcome::UpToDate:
        if (const Step step = forwardKeyed(linkstats_); step != Step::Idle)
            return step;
        if (const Step step = forwardKeyed(events_); step != Step::Idle)
            return step;
        if (const Step step = forwardMeters(); step != Step::Idle)
            return step;
        sayForwarding();
        return options_.once ? Step::Done : Step::Idle;
    case LocalBatch::Outcome::Rows:
        if (batch.rowsRead == asked) {
            readAheadRows_ = batchSize_.rows();
            readAhead_ =
                std::async(std::launch::async, [this, end = batch.end, rows = readAheadRows_] {
                    return local_.readAfter(end, rows);
                });
        }
        return storeBatch(batch);
    }
    return Step::Continue;
}

Uplink::Step Uplink::failedLocally(const LocalBatch& batch) {
    switch (batch.outcome) {
    case LocalBatch::Outcome::Missing:
        return failed(UplinkState::LocalMissing, "local history missing: " + batch.error);
    case LocalBatch::Outcome::Locked:
        return failed(UplinkState::LocalLocked, "local history locked: " + batch.error);
    default:
        return failed(UplinkState::LocalUnreadable, "local history unreadable: " + batch.error);
    }
}

Uplink::Step Uplink::failedCentrally(const CentralFailure& failure) {
    discardReadAhead();
    poolerBusy_ = failure.kind == CentralFailure::Kind::PoolerBusy;
    if (stop_ && *stop_)
        return Step::Failed; // stopped while waiting: nothing to say
    if (fatal(failure.kind)) {
        status_.report(stateOf(failure.kind), failure.message);
        return Step::Fatal;
    }
    return failed(stateOf(failure.kind), describe(failure));
}

Uplink::Step Uplink::refuseOtherFiles() {
    // The mark is of a file this folder does not have. Read here before, it was restored or
    // replaced; read elsewhere, another PC or folder forwards this station with this identity,
    // and forwarding this file too would mix the two.
    const std::string& origin = central_.markOrigin();
    if (origin.empty() || origin == central_.origin())
        return Step::Continue;
    return failedCentrally(
        {CentralFailure::Kind::OtherFolder,
         "station '" + station_ + "' is forwarded from " + origin +
             ", with the same identity (uplink.id) as this program folder but other files: "
             "stop the uplink there, or give one of the two program folders a new uplink.id "
             "(delete it) and a station name of its own in uplink.conf; when this PC replaces "
             "that one, the DBA hands the station over with UPDATE station_uplink_progress SET "
             "mark_origin = NULL WHERE station = '" +
             station_ + "'"});
}

Uplink::Step Uplink::storeBatch(LocalBatch& batch) {
    using namespace std::chrono;
    const auto start = steady_clock::now();
    if (auto failure = central_.store(batch)) {
        if (failure->kind == CentralFailure::Kind::Unreachable ||
            failure->kind == CentralFailure::Kind::PoolerBusy)
            batchSize_.gaveUp();
        return failedCentrally(*failure);
    }
    lastHeard_ = steady_clock::now();
    batchSize_.took(batch.rowsRead, duration_cast<milliseconds>(lastHeard_ - start));
    from_ = batch.end;
    rowsRead_ += batch.rowsRead;
    rowsAdded_ += central_.lastAdded();
    if (central_.lastConflicts() > 0)
        say_(std::to_string(central_.lastConflicts()) +
             " readings not stored: the server holds other values, or the same from other "
             "texts, under their meter and time; kept in station_conflicts");
    if (batch.unforwardableRows > 0)
        say_(std::to_string(batch.unforwardableRows) +
             " local rows not forwarded, having no central form; first: " +
             batch.firstUnforwardable);
    if (central_.lastSetAside() > 0)
        say_(std::to_string(central_.lastSetAside()) +
             " local rows set aside, the server cannot take them (counted in rows_set_aside of "
             "stations); the rows after them are forwarded; first: " +
             central_.firstSetAside());
    sayForwarding();
    return Step::Continue;
}

Uplink::Step Uplink::forwardKeyed(KeyedRows& rows) {
    LocalBatch batch = (local_.*rows.readAfter)(rows.from, options_.batchRows);
    switch (batch.outcome) {
    case LocalBatch::Outcome::Missing:
    case LocalBatch::Outcome::Locked:
    case LocalBatch::Outcome::Unreadable:
        return failedLocally(batch);
    case LocalBatch::Outcome::UpToDate:
        return Step::Idle;
    case LocalBatch::Outcome::HistoryChanged:
        if (const Step step = refuseOtherFiles(); step != Step::Continue)
            return step;
        say_(rows.replaced);
        batch.end = {};
        break;
    case LocalBatch::Outcome::Rows:
        break;
    }
    if (auto failure = (central_.*rows.storeBatch)(batch))
        return failedCentrally(*failure);
    lastHeard_ = std::chrono::steady_clock::now();
    rows.from = batch.end;
    rows.read += batch.rowsRead;
    rows.added += central_.lastAdded();
    const std::string named = std::string(" ") + rows.rowsNamed;
    if (central_.lastConflicts() > 0)
        say_(std::to_string(central_.lastConflicts()) + named + rows.differing);
    if (batch.unforwardableRows > 0)
        say_(std::to_string(batch.unforwardableRows) + named +
             " not forwarded, having no central form; first: " + batch.firstUnforwardable);
    if (central_.lastSetAside() > 0)
        say_(std::to_string(central_.lastSetAside()) + named +
             " set aside, the server cannot take them (counted in rows_set_aside of stations); "
             "the rows after them are forwarded; first: " +
             central_.firstSetAside());
    sayForwarding();
    return Step::Continue;
}

Uplink::Step Uplink::forwardMeters() {
    // Read at each look for new rows; the server is asked only when something changed.
    const auto meters = readStationMeters(local_.databasePath());
    if (!meters)
        return Step::Idle; // read again at the next look
    if (auto failure = central_.storeMeters(*meters))
        return failedCentrally(*failure);
    if (central_.lastAdded() > 0) {
        lastHeard_ = std::chrono::steady_clock::now();
        say_(std::to_string(central_.lastAdded()) +
             " meters new or changed on the server (address, profile, name)");
    }
    return Step::Idle;
}

Uplink::Step Uplink::failed(UplinkState state, const std::string& text) {
    const bool retrying = !options_.once || (poolerBusy_ && onceRetries_ > 0);
    status_.report(state, retrying ? text + "; retrying" : text);
    return Step::Failed;
}

void Uplink::sayForwarding() {
    retryDelay_.reset();
    status_.report(UplinkState::Forwarding, "forwarding station '" + station_ + "' from " +
                                                local_.databasePath() + " to " +
                                                central_.serverName());
}

void Uplink::discardReadAhead() {
    if (readAhead_.valid())
        readAhead_.get();
}

void Uplink::pause(std::chrono::milliseconds time, const std::atomic<bool>& stop) const {
    using namespace std::chrono;
    const auto end = steady_clock::now() + time;
    for (auto now = steady_clock::now(); !stop && now < end; now = steady_clock::now())
        std::this_thread::sleep_for(std::min<steady_clock::duration>(milliseconds(50), end - now));
}

} // namespace mirv
