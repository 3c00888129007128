#pragma once

#include "batch_size.h"
#include "central_store.h"
#include "local_history.h"
#include "uplink_config.h"
#include "uplink_status.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>

namespace mirv {

struct UplinkOptions {
    bool once = false;                        // forward what is there, then end
    std::chrono::milliseconds interval{2000}; // between looks for new rows when up to date
    int batchRows = 20000;                    // the most rows per read and per server transaction
    std::chrono::milliseconds firstRetry{1000};
    std::chrono::milliseconds maxRetry{30000};
    std::chrono::milliseconds heartbeat{60000}; // between touches of the station's last_seen
    // A file locked while this uplink forwards, so that a second one from the same program
    // folder waits; none when empty.
    std::string folderLock;
};

// Forwards every row of the station's Historydata to the central server, in ID order, each
// batch read in one short read transaction and stored in one server transaction, as many rows
// as the server stores in a short while (BatchSize). Where it
// stands lives on the server (the station's mark), never in the station's database. The next
// batch is read while the current one is stored. Once the readings are up to date, the rows
// of the station's Linkstats follow the same way, with a mark of their own, and then the rows
// of its event journal (Events), with another, and the station's meters when they changed.
class Uplink {
  public:
    // `say` receives each line for the operator. `identity` tells this program folder from
    // another forwarding under the same station name.
    Uplink(const UplinkConfig& config, std::string identity, std::string databasePath,
           UplinkOptions options, std::function<void(const std::string&)> say);
    ~Uplink();

    // Forwards until `stop` is set, or with `once` until nothing is left; a wait for the server
    // ends within a tenth of a second of `stop`. 0 when done or stopped; 1 when `once` met a
    // failure (a busy pooler's after a few retries); 2 when retrying cannot help: the station's
    // name belongs to another PC, another PC or folder forwards it with this identity, or a setting
    // does not fit the server (each said already).
    int run(const std::atomic<bool>& stop);

  private:
    enum class Step { Continue, Idle, Done, Failed, Fatal };

    Step forwardOnce();
    Step storeBatch(LocalBatch& batch);
    // A table the station writes each row of once, forwarded after the readings with a mark
    // of its own: where it stands, and the texts that name it to the operator.
    struct KeyedRows {
        LocalBatch (LocalHistory::*readAfter)(const ForwardMark&, int) const;
        std::optional<CentralFailure> (CentralStore::*storeBatch)(const LocalBatch&);
        const char* replaced;  // said when the mark's row is gone
        const char* rowsNamed; // "Linkstats rows", "events"
        const char* differing; // after the count of rows the server holds with other values
        ForwardMark from;
        long long read = 0;
        long long added = 0;
    };
    // One batch of such a table; Idle when there is none.
    Step forwardKeyed(KeyedRows& rows);
    // The station's meters (addresses, profiles, names) to the server when they changed;
    // Idle unless that failed.
    Step forwardMeters();
    Step failed(UplinkState state, const std::string& text);
    Step failedLocally(const LocalBatch& batch); // a batch that could not be read
    Step failedCentrally(const CentralFailure& failure);
    // Fatal when the server's mark was read from other files of another PC or folder.
    Step refuseOtherFiles();
    bool holdFolder();
    void sayForwarding();
    void discardReadAhead();
    void pause(std::chrono::milliseconds time, const std::atomic<bool>& stop) const;

    std::string station_;
    LocalHistory local_;
    CentralStore central_;
    UplinkOptions options_;
    std::function<void(const std::string&)> say_;
    StatusLine status_;
    RetryDelay retryDelay_;
    ForwardMark from_;
    BatchSize batchSize_;
    std::future<LocalBatch> readAhead_;
    int readAheadRows_ = 0; // the rows asked for by the read in readAhead_
    long long rowsRead_ = 0;
    long long rowsAdded_ = 0;
    KeyedRows linkstats_;
    KeyedRows events_;
    int folderLock_ = -1;
    bool poolerBusy_ = false; // the last failure was a busy pooler's
    int onceRetries_ = 5;     // of a busy pooler, with `once`
    std::chrono::steady_clock::time_point lastHeard_;
    const std::atomic<bool>* stop_ = nullptr;
};

} // namespace mirv
