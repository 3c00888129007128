// Start-up: the settings row read once into what applies, the poll timer and the port; every
// failing step is skipped and the last failure is reported at the end. Save in the service
// stores the row and goes through the same steps again.
#include "database.h"
#include "leading_number.h"
#include "line_settings.h"
#include "meter_plan_reader.h"
#include "operator_name.h"
#include "poll_pace.h"
#include "polled_meters.h"
#include "port_device.h"
#include "settings_check.h"
#include "station_engine.h"
#include "station_file.h"

#include <QStringList>
#include <climits>
#include <cmath>
#include <cstdio>

namespace mirv {

namespace {

// What start-up's box and the message line say when the database failed: its first line is
// the message line's text, then the file and the system's reason.
QString databaseFailureText(const StationFileProblem& problem, const QString& path) {
    QString first;
    switch (problem.kind) {
    case StationFileProblem::Missing:
        first = QStringLiteral("数据库文件不存在,通讯停止!");
        break;
    case StationFileProblem::Unusable:
        first = QStringLiteral("数据库无法打开,通讯停止!");
        break;
    case StationFileProblem::MissingTables: {
        QStringList tables;
        for (const std::string& t : problem.tables)
            tables << QString::fromStdString(t);
        return QStringLiteral("数据库缺少数据表%1,通讯停止!\r\n")
                   .arg(tables.join(QStringLiteral("、"))) +
               path;
    }
    }
    return first + QStringLiteral("\r\n") + path + QStringLiteral("\r\n") +
           QString::fromStdString(problem.reason);
}

constexpr const char* kDefaultPollInterval = "2000";
constexpr const char* kDefaultRecordInterval = "1";

} // namespace

QString StationEngine::start() {
    // The last failure of each kind; the box tells of the database or the settings row before
    // the port, which without them is only the default one.
    QString lastFailure, settingsFailure, databaseFailure;
    bool failed = false;
    auto fail = [&](const std::string& description) {
        failed = true;
        lastFailure = QString::fromStdString(description);
    };
    auto failSettings = [&](const std::string& description) {
        failed = true;
        settingsFailure = QString::fromStdString(description);
    };

    // A file that is not the station's database is only read, never written, and the settings
    // are not looked for in it.
    const std::string path = databasePath().toStdString();
    const auto problem = checkStationFile(path, 1000);
    SettingsRow row;
    if (problem) {
        failed = true;
        databaseFailure = databaseFailureText(*problem, databasePath());
        for (SettingsField* f : {&row.timer, &row.minute, &row.com, &row.Settings, &row.num})
            f->error = problem->reason;
    } else {
        row = readSettingsRow(path);
        if (!row.error.empty())
            failSettings(row.error);
    }
    // A field's failure counts for the settings row only when the database itself was fine.
    auto failField = [&](const SettingsField& f) {
        if (problem)
            failed = true;
        else
            failSettings(f.error);
    };

    SettingsTexts texts;
    for (auto [field, text] : {std::pair{&row.timer, &texts.pollInterval},
                               {&row.num, &texts.meterCount},
                               {&row.Settings, &texts.baud},
                               {&row.com, static_cast<std::optional<std::string>*>(nullptr)},
                               {&row.minute, &texts.recordInterval}}) {
        if (!field->text)
            failField(*field);
        else if (text)
            *text = *field->text;
    }
    if (row.com.whole && *row.com.whole >= 1 && *row.com.whole <= 10)
        texts.port = static_cast<int>(*row.com.whole);

    // Stored intervals that cannot work (possible only by editing the database) give way to
    // the defaults; the stored row stays as it is.
    QStringList replaced;
    if (const auto interval = wholeMilliseconds(texts.pollInterval.value_or(""));
        texts.pollInterval && interval && *interval <= 0) {
        texts.pollInterval = kDefaultPollInterval;
        replaced << QStringLiteral("发送间隔设置无效,已使用默认值%1毫秒").arg(kDefaultPollInterval);
    }
    if (texts.recordInterval && leadingNumber(*texts.recordInterval) < 1) {
        texts.recordInterval = kDefaultRecordInterval;
        replaced
            << QStringLiteral("记录时间设置无效,已使用默认值%1分钟").arg(kDefaultRecordInterval);
    }
    if (!replaced.isEmpty())
        setMessage(replaced.join(QStringLiteral(";")).toStdString());
    const std::string pollText = texts.pollInterval.value_or(kDefaultPollInterval);
    const std::string baudText = texts.baud.value_or("");
    link_->meterCount = texts.meterCount.value_or("");
    recordInterval_ = texts.recordInterval.value_or("");
    texts_ = texts;
    emit settingsChanged();

    // A poll interval of 0 or less leaves the poll timer stopped: a zero-interval timer would
    // fire on every pass of the event loop.
    if (const auto interval = wholeMilliseconds(pollText); !interval || *interval > INT_MAX) {
        failSettings("The poll interval \"" + pollText +
                     "\" is not a whole number of milliseconds.");
    } else if (*interval > 0) {
        pollTimer_.setInterval(
            pollIntervalFor(static_cast<int>(*interval), lineSettingsForBaud(baudText)));
        pollTimer_.start();
    }
    link_->stats.setIntervalMs = pollTimer_.interval();
    link_->currentAddress = 0;
    if (!problem)
        planMeters();

    // Without a stored port number there is nothing to open; an invalid one leaves the port on
    // the number it holds. A gateway that cannot be reached yet is no failure: the port keeps
    // trying and the message line says so meanwhile.
    if (row.com.text) {
        if (row.com.whole && *row.com.whole >= 1 && *row.com.whole <= 255)
            portNumber_ = static_cast<int>(*row.com.whole);
        else
            fail("Invalid port number: " + *row.com.text + ".");
        if (const Failure f = port_.open(portDevice(programDir_.toStdString(), portNumber_))) {
            fail(*f);
        } else {
            if (const Failure s = port_.setSettings("9600,n,8,1"))
                fail(*s);
            port_.flushOutput();
            port_.flushInput();
            if (const Failure s = port_.setSettings(lineSettingsForBaud(baudText)))
                fail(*s);
        }
    }
    // The wire time of a request is known on the station's own serial line only.
    if (const auto settings = parseLineSettings(lineSettingsForBaud(baudText)))
        link_->stats.setBaud(port_.isGateway() ? 0 : settings->baud);
    for (int n = 1; n <= kMeters; ++n)
        emit markChanged(n);

    QString box;
    if (failed) {
        // Nothing is polled or decoded from here on.
        stopPolling();
        if (!databaseFailure.isEmpty()) {
            box = databaseFailure;
        } else if (!settingsFailure.isEmpty()) {
            box = QStringLiteral("系统设置读取失败,通讯停止!\r\n") + databasePath() +
                  QStringLiteral("\r\n") + settingsFailure;
        } else {
            box = QStringLiteral("Com") + QString::number(portNumber_) +
                  QStringLiteral(" is not available.") + QStringLiteral("\r\n") + lastFailure;
        }
        setMessage(databaseFailure.isEmpty() && settingsFailure.isEmpty()
                       ? "串口已被占用,请更改串口,通讯停止!"
                       : box.section(QStringLiteral("\r\n"), 0, 0).toStdString());
    }
    // Rows an earlier run could not write go in first, into a database that passed its checks.
    if (!problem) {
        startJournal();
        writer_->writePending();
    }
    return box;
}

// The Meters table's plan: each polled board row's address and profile. A table that says
// nothing new leaves the link polling rows 1..N at their own numbers, as it always did. Rows
// whose entry or profile is refused are not polled; the rest are, and the message line says so.
void StationEngine::planMeters() {
    const double count = leadingNumber(link_->meterCount);
    const int rows = count >= kMeters ? kMeters : std::max(1, static_cast<int>(std::ceil(count)));
    const MeterPlan plan = readMeterPlan(databasePath().toStdString(), rows);
    meterNames_.fill({});
    for (const PlannedMeter& m : plan.meters)
        if (m.address >= 0 && m.address < LineStats::kAddresses)
            meterNames_[static_cast<std::size_t>(m.address)] = m.name;
    std::array<int, kMeters + 1> addresses{};
    for (int n = 1; n <= kMeters; ++n)
        addresses[static_cast<std::size_t>(n)] = n;
    if (isRowNumberPlan(plan)) {
        link_->setPlan({});
    } else {
        std::vector<std::string> refusals = plan.refusals;
        link_->setPlan(polledMeters(plan, (programDir_ + QStringLiteral("/profiles")).toStdString(),
                                    refusals));
        for (const PlannedMeter& m : plan.meters)
            if (ReadingsBoard::isMeter(m.row))
                addresses[static_cast<std::size_t>(m.row)] = m.address;
        for (const std::string& r : refusals)
            std::fprintf(stderr, "mirv-station: %s\n", r.c_str());
        if (!refusals.empty())
            setMessage("仪表设置有误,部分仪表未轮询: " + refusals.front());
    }
    logger_->meterOfRow = [addresses](int row) {
        return ReadingsBoard::isMeter(row) ? addresses[static_cast<std::size_t>(row)] : row;
    };
}

// The alarms an earlier run left standing, and whether it ended cleanly: a start with no end
// after it was a run that crashed or lost its power. Rows it left in the journal's spool are
// newer than the database's and go in before this run's.
void StationEngine::startJournal() {
    if (journalStarted_)
        return;
    journalStarted_ = true;
    const std::string path = databasePath().toStdString();
    Database db(path, 1000);
    std::vector<AlarmRow> stored;
    const bool readable = !readAlarms(db, stored);
    if (readable)
        events_.restore(stored);
    const EventSpool::Unwritten spooled = EventSpool(eventSpoolPath(path)).unwritten(db);
    events_.restore(spooled.alarms);
    const auto lastOf = [&](const std::string& kind) {
        std::optional<EventRow> last;
        for (const EventRow& e : spooled.events)
            if (e.kind == kind)
                last = e;
        return last ? last : lastEvent(db, kind);
    };
    const std::optional<EventRow> last = lastOf("station");
    if (last && last->phase == "begin")
        events_.note(0, "station", "系统异常退出", "上次启动于" + last->localTime + ",未正常退出",
                     {}, "end");
    // An outage the earlier run ended in is over once the file reads. While it does not, the
    // writer notes this run's own outage: taking the old one as still standing would hide a
    // later outage whenever the file only could not be read yet (tables not made).
    const std::optional<EventRow> outage = lastOf("database");
    if (readable && outage && outage->phase == "begin")
        events_.note(0, "database", "数据库恢复",
                     "上次运行结束时仍不可用(始于" + outage->localTime + ")", {}, "end");
    events_.note(0, "station", "系统启动", {}, {}, "begin");
    emit alarmsChanged();
}

// The journal's record of a Save: each setting that changed, from what applied to what was
// stored, and who saved.
void StationEngine::noteSettings(const SettingsUpdate& update) {
    const std::string port = update.com ? std::to_string(*update.com) : "";
    const std::string oldPort = texts_.port ? std::to_string(*texts_.port) : "";
    const std::pair<const char*, std::pair<std::string, std::string>> fields[] = {
        {"发送间隔", {texts_.pollInterval.value_or(""), update.timer}},
        {"当前com端口", {oldPort, update.com ? port : oldPort}},
        {"通讯速率", {texts_.baud.value_or(""), update.Settings}},
        {"当前仪表数", {texts_.meterCount.value_or(""), update.num}},
        {"本地数据记录时间", {texts_.recordInterval.value_or(""), update.minute}},
    };
    std::string detail;
    for (const auto& [name, values] : fields) {
        if (values.first == values.second)
            continue;
        if (!detail.empty())
            detail += "; ";
        detail += std::string(name) + ": " + values.first + " -> " + values.second;
    }
    events_.note(0, "settings", "系统设置已保存", detail,
                 saveUser.empty() ? operatorName() : saveUser);
}

QString StationEngine::applySettings(const SettingsUpdate& update) {
    if (const std::string refused = refusedPollInterval(update.timer); !refused.empty())
        return QString::fromStdString(refused);
    if (const auto failure = writeSettingsRow(databasePath().toStdString(), update))
        return QString::fromStdString(*failure);
    noteSettings(update);
    // Polling starts again from the stored row, as at start-up; the line's counters stay.
    pollTimer_.stop();
    link_->stop();
    auto fresh = std::make_unique<MeterLink>(port_, board_);
    fresh->stats = link_->stats;
    link_ = std::move(fresh);
    linkstatsLogger_ = std::make_unique<LinkstatsLogger>(link_->stats, *writer_);
    linkstatsLogger_->check(localNow());
    missedLastPoll_ = {};
    // The port is opened again from the new settings and says its own state; the database's
    // and the broker's states still stand and stay laid over the line.
    changeLine([](MessageLine& line) { line.gatewayConnected(true); });
    setMessage("");
    return start();
}

} // namespace mirv
