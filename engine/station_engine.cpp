#include "station_engine.h"

#include "day_summary_store.h"
#include "operator_name.h"
#include "settings_check.h"

#include <QFile>
#include <algorithm>
#include <cstdio>

namespace mirv {

StationEngine::StationEngine(const QString& programDir, EngineClock clock, QObject* parent)
    : StationFeed(parent), programDir_(programDir), clock_(std::move(clock)),
      link_(std::make_unique<MeterLink>(port_, board_)) {
    pollTimer_.setInterval(1000);
    connect(&pollTimer_, &PollTimer::timeout, this, &StationEngine::onPollTick);
    recordTimer_.setInterval(clock_.minuteMs);
    connect(&recordTimer_, &QTimer::timeout, this, &StationEngine::minutePassed);
    recordTimer_.start();

    writer_ = std::make_unique<HistoryWriter>(databasePath().toStdString());
    writer_->stateChanged = [this](HistoryWriter::State state) {
        QMetaObject::invokeMethod(
            this, [this, state] { showHistoryState(state); }, Qt::QueuedConnection);
    };
    writer_->cutLinesDropped = [this](std::size_t lines) {
        std::fprintf(stderr,
                     "mirv-station: %zu cut lines dropped from %s: a crash cut them short\n", lines,
                     writer_->pendingPath().c_str());
        QMetaObject::invokeMethod(
            this,
            [this, lines] {
                setMessage("历史暂存文件中" + std::to_string(lines) + "行不完整(断电截断),已丢弃");
            },
            Qt::QueuedConnection);
    };
    writer_->beforeCommit = [](Database& db) { addNewRowsToDaySummaries(db); };
    logger_ = std::make_unique<RecordLogger>(board_, *writer_);
    logger_->now = [this] { return localNow(); };
    recordTick_.recordAll = [this] { logger_->recordAll(); };
    linkstatsLogger_ = std::make_unique<LinkstatsLogger>(link_->stats, *writer_);
    linkstatsLogger_->check(localNow());
    hourTimer_.setSingleShot(true);
    connect(&hourTimer_, &QTimer::timeout, this, [this] {
        hourPassed();
        armHourTimer();
    });
    armHourTimer();

    events_.now = [this] {
        const QDateTime now = clock_.now();
        return EventWatch::Stamp{
            now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString(),
            now.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")).toStdString()};
    };
    events_.write = [this](std::vector<EventRow> e, std::vector<AlarmRow> a) {
        journal(std::move(e), std::move(a));
    };
    board_.rowChanged = [this](int n) { onRowChanged(n); };
    port_.gatewayConnectionChanged = [this](bool up) {
        events_.lineUp("gateway", up);
        changeLine([up](MessageLine& line) { line.gatewayConnected(up); });
    };
    port_.bytesArrived = [this] { link_->onBytesArrived(); };
}

StationEngine::~StationEngine() {
    board_.rowChanged = nullptr;
    port_.gatewayConnectionChanged = nullptr;
    port_.bytesArrived = nullptr;
}

QString StationEngine::databasePath() const {
    return programDir_ + QStringLiteral("/mirv.mdb");
}

std::string StationEngine::localNow() const {
    return clock_.now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

MeterMark StationEngine::mark(int meter) const {
    MeterMark m;
    m.polled = !link_->stopped() && polledRow(link_->meterCount, meter);
    m.silent = m.polled && missedLastPoll_[static_cast<std::size_t>(meter - 1)];
    m.alarm = events_.meterAlarm(meter);
    return m;
}

void StationEngine::onRowChanged(int n) {
    // A poll's answer fills the whole row; a missed one empties it.
    const BoardRow& r = board_.row(n);
    const MeterMark before = mark(n);
    const bool missed = std::all_of(r.begin(), r.end(), [](auto& t) { return t.empty(); });
    missedLastPoll_[static_cast<std::size_t>(n - 1)] = !link_->stopped() && missed;
    if (!link_->stopped())
        events_.polled(n, !missed, r);
    emit rowChanged(n);
    if (mark(n) != before)
        emit markChanged(n);
}

void StationEngine::onPollTick() {
    link_->onPollTick();
    if (!port_.isGateway())
        events_.lineUp("port", !port_.serial().lost());
}

void StationEngine::journal(std::vector<EventRow> events, std::vector<AlarmRow> alarms) {
    const bool alarmChange = !alarms.empty();
    if (!events.empty())
        emit eventsNoted(events);
    writer_->writeJournal(std::move(events), std::move(alarms));
    if (alarmChange) {
        for (int n = 1; n <= kMeters; ++n)
            emit markChanged(n);
        emit alarmsChanged();
    }
}

void StationEngine::acknowledge(int meter, const std::string& kind) {
    acknowledgeAs(meter, kind, operatorName());
}

int StationEngine::acknowledgeAs(int meter, const std::string& kind, const std::string& user) {
    return events_.acknowledge(meter, kind, user);
}

void StationEngine::showBrokerState(const std::string& text) {
    changeLine([&text](MessageLine& line) { line.brokerState(text); });
}

void StationEngine::changeLine(const std::function<void(MessageLine&)>& change) {
    const std::string before = message_.text();
    change(message_);
    if (message_.text() != before)
        emit messageChanged(message());
}

void StationEngine::setMessage(const std::string& text) {
    if (text == message_.text())
        return;
    message_.set(text);
    emit messageChanged(message());
}

void StationEngine::noteStationEvent(const std::string& kind, const std::string& text,
                                     const std::string& detail, const std::string& phase) {
    events_.note(0, kind, text, detail, {}, phase);
}

void StationEngine::showHistoryState(HistoryWriter::State state) {
    events_.databaseUp(state == HistoryWriter::State::Written, writer_->waited());
    changeLine([state](MessageLine& line) {
        line.historyState(static_cast<MessageLine::History>(state));
    });
}

void StationEngine::minutePassed() {
    recordTick_.minutePassed(recordInterval_);
}

void StationEngine::hourPassed() {
    linkstatsLogger_->check(localNow());
}

// Just past the next full hour of the clock's local time.
void StationEngine::armHourTimer() {
    const QTime t = clock_.now().time();
    const qint64 msIntoHour = (t.minute() * 60 + t.second()) * 1000 + t.msec();
    const qint64 hourMs = qint64{clock_.minuteMs} * 60;
    hourTimer_.start(static_cast<int>(std::max<qint64>(
        1, (3600 * 1000 - msIntoHour) * hourMs / (3600 * 1000) + 200 * hourMs / (3600 * 1000))));
}

void StationEngine::readLine(LineReadout& into) {
    readCounts(into);
    copyFreshFrames(link_->stats.frames(), into);
}

void StationEngine::readCounts(LineCounts& into) {
    mirv::readCounts(link_->stats, into);
    into.polled = link_->polledReads();
    for (PolledRead& r : into.polled)
        r.name = meterNames_[r.key.address];
    into.meterCount = link_->meterCount;
    into.opens = port_.serial().opens + port_.gateway().opens;
    into.openFailures = port_.serial().openFailures + port_.gateway().openFailures;
    into.nowWallUs = link_->clockUs() + link_->stats.wallOffsetUs;
}

void StationEngine::clearCounters() {
    link_->stats.reset();
}

void StationEngine::saveSettings(const SettingsUpdate& update) {
    if (applyOnSave) {
        emit settingsSaved(applySettings(update));
        return;
    }
    const auto failure = writeSettingsRow(databasePath().toStdString(), update);
    if (!failure)
        noteSettings(update);
    emit settingsSaved(failure ? QString::fromStdString(*failure) : QString());
}

PurgeResult StationEngine::purge() {
    return purgeHistory(databasePath().toStdString(), operatorName());
}

void StationEngine::stopPolling() {
    pollTimer_.stop();
    pollTimer_.setInterval(0);
    link_->stop();
    port_.closeGateway();
    for (int n = 1; n <= kMeters; ++n)
        emit markChanged(n);
}

void StationEngine::stop(std::chrono::milliseconds flushFor) {
    if (journalStarted_)
        events_.note(0, "station", "系统正常退出", {}, {}, "end");
    journalStarted_ = false;
    pollTimer_.stop();
    recordTimer_.stop();
    hourTimer_.stop();
    // Rows still waiting for the database get one more chance before the program ends.
    writer_->flush(flushFor);
}

std::uint64_t StationEngine::finish() {
    return writer_->finish();
}

} // namespace mirv
