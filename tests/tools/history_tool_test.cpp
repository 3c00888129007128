#include "database.h"
#include "history_query.h"
#include "office_csv.h"
#include "program_folder.h"
#include "pty_pair.h"
#include "run_program.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace mirv {
namespace {

namespace fs = std::filesystem;
using test::runProgram;

// Five rows written out by hand: a text with a comma, one with quotes, a number too long to
// be a number, an empty cell, and rows on both sides of the bounds 2026-05-06 .. 2026-05-07.
constexpr const char* kRows = R"(INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse,
    TXTctemperature1, TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z,
    Alarmstatus, CreateTime) VALUES
    ('1', '12.5000', '123456.75', '0.00', '61.25', '', '-3.5000', '0.0000', '2000000005.50',
     '0.00', '通讯正常,空管报警', '2026-05-06 10:20:00'),
    ('2', '1.0000', '1.00', '2.00', '3.00', '4.00', '5.0000', '6.0000', '7.00', '8.00',
     '通讯正常', '2026-05-06 10:25:00'),
    ('1', 'N/A', '12345678901234567', '2.00', '3.00', '4.00', '5.0000', '6.0000', '7.00', '8.00',
     'say "hi"', '2026-05-06 10:30:00'),
    ('12', '0.5000', '9.25', '0.00', '1.00', '2.00', '3.0000', '4.0000', '5.00', '6.00',
     '通讯正常', '2026-05-07 00:00:00'),
    ('1', '9.0000', '1.00', '2.00', '3.00', '4.00', '5.0000', '6.0000', '7.00', '8.00',
     '通讯正常', '2026-05-05 23:59:59'))";

constexpr const char* kCaptions = "ID,仪表编号,瞬时流量,正向累计,反向累计,入口温度,出口温度,"
                                  "瞬时热量,瞬时冷量,累积热量,累积冷量,报警状态,日期时间";

struct HistoryTool : testing::Test {
    void SetUp() override { folder.exec(kRows); }

    test::ProgramRun tool(std::vector<std::string> args, int stdinFd = -1) {
        args.insert(args.begin(), {MIRV_HISTORY_TOOL, "--db", folder.databasePath()});
        return runProgram(args, stdinFd);
    }
    std::string file(const std::string& name) const { return folder.path() + "/" + name; }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::int64_t historyRows() {
        Database db(folder.databasePath());
        Statement count(db, "SELECT count(*) FROM Historydata");
        return count.step() ? count.integer(0) : -1;
    }

    test::ProgramFolder folder;
};

// Splits CSV text into rows of fields, undoing the quoting.
std::vector<std::vector<std::string>> parseCsv(std::string_view text) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"')
            rows.back().back() += text[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            rows.back().emplace_back();
        else if (!quoted && (c == '\r' || c == '\n')) {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            rows.emplace_back(1);
        } else
            rows.back().back() += c;
    }
    if (rows.back() == std::vector<std::string>(1))
        rows.pop_back();
    return rows;
}

TEST_F(HistoryTool, CsvBytesAreTheStoredTextsUnderTheCaptions) {
    const auto run = tool({"export", "--from", "2026-05-06", "--to", "2026-05-07", "--format",
                           "csv", "--output", "-"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, std::string("\xEF\xBB\xBF") + kCaptions + "\r\n" +
                           "1,1,12.5000,123456.75,0.00,61.25,,-3.5000,0.0000,2000000005.50,0.00,"
                           "\"通讯正常,空管报警\",2026-05-06 10:20:00\r\n"
                           "2,2,1.0000,1.00,2.00,3.00,4.00,5.0000,6.0000,7.00,8.00,通讯正常,"
                           "2026-05-06 10:25:00\r\n"
                           "3,1,N/A,12345678901234567,2.00,3.00,4.00,5.0000,6.0000,7.00,8.00,"
                           "\"say \"\"hi\"\"\",2026-05-06 10:30:00\r\n"
                           "4,12,0.5000,9.25,0.00,1.00,2.00,3.0000,4.0000,5.00,6.00,通讯正常,"
                           "2026-05-07 00:00:00\r\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(HistoryTool, CsvRowsEqualTheQueryTabsForTheSameCriteria) {
    const struct {
        const char* meter;
        const char* from;
        const char* to;
        const char* step;
        std::size_t rows;
    } cases[] = {
        {"全部", "2026-05-06", "2026-05-07", "1", 4},
        {" 1 ", "2026/5/6", "2026-05-07", "1", 2},
        {"", "2026-05-06", "2026-05-07", "10", 3},
        {"全部", "2026-05-06 10:25", "2026-05-07", "1", 3},
        {"12", "2026-05-05", "2026-05-08", "60", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.meter) + " " + c.from + " " + c.to + " " + c.step);
        const auto run = tool({"export", "--meter", c.meter, "--from", c.from, "--to", c.to,
                               "--step", c.step, "--format", "csv", "--output", file("x.csv")});
        ASSERT_EQ(run.status, 0) << run.err;
        const HistoryRows tab =
            queryHistory(folder.databasePath(), selectionFrom({c.meter, c.from, c.to, c.step}));
        const auto csv = parseCsv(read(file("x.csv")).substr(3));
        ASSERT_EQ(tab.size(), c.rows);
        ASSERT_EQ(csv.size(), c.rows + 1);
        for (std::size_t r = 0; r < tab.size(); ++r)
            for (int col = 0; col < HistoryRows::kColumns; ++col)
                EXPECT_EQ(csv[r + 1][col], tab.cell(r, col)) << r << "," << col;
    }
}

TEST_F(HistoryTool, XlsxReadBackByLibreOfficeHasTheRowsTyped) {
    const auto run = tool({"export", "--from", "2026-05-06", "--to", "2026-05-07", "--format",
                           "xlsx", "--output", file("history.xlsx")});
    ASSERT_EQ(run.status, 0) << run.err;
    const test::OfficeCsv office(file("history.xlsx"));
    const std::string sheet = office.sheet(1);
    ASSERT_FALSE(sheet.empty()) << office.run().err;
    // Quoted cells are texts, bare ones numbers; the date-time is shown in its own format.
    EXPECT_EQ(sheet, R"("ID","仪表编号","瞬时流量","正向累计","反向累计","入口温度","出口温度",)"
                     R"("瞬时热量","瞬时冷量","累积热量","累积冷量","报警状态","日期时间")"
                     "\n"
                     R"(1,1,12.5000,123456.75,0.00,61.25,,-3.5000,0.0000,2000000005.50,0.00,)"
                     R"("通讯正常,空管报警",2026-05-06 10:20:00)"
                     "\n"
                     R"(2,2,1.0000,1.00,2.00,3.00,4.00,5.0000,6.0000,7.00,8.00,"通讯正常",)"
                     R"(2026-05-06 10:25:00)"
                     "\n"
                     R"(3,1,"N/A","12345678901234567",2.00,3.00,4.00,5.0000,6.0000,7.00,8.00,)"
                     R"("say ""hi""",2026-05-06 10:30:00)"
                     "\n"
                     R"(4,12,0.5000,9.25,0.00,1.00,2.00,3.0000,4.0000,5.00,6.00,"通讯正常",)"
                     R"(2026-05-07 00:00:00)"
                     "\n");
    // The same rows the query tab shows.
    const HistoryRows tab =
        queryHistory(folder.databasePath(), selectionFrom({"", "2026-05-06", "2026-05-07", "1"}));
    const auto rows = parseCsv(sheet);
    ASSERT_EQ(rows.size(), tab.size() + 1);
    for (std::size_t r = 0; r < tab.size(); ++r)
        for (int col = 0; col < HistoryRows::kColumns; ++col)
            EXPECT_EQ(rows[r + 1][col], tab.cell(r, col)) << r << "," << col;
}

// Worked out by hand from the rows above: meter 1's heat total fell (a step back, no use), its
// forward total rose by more than a double can hold exactly.
// Meter 2 is named "301", a name that reads as a number; meter 12 has none.
constexpr const char* kEnergyRows =
    "1,2026-05-06 10:20:00,2026-05-06 10:30:00,2,0.00,8.00,12345678901111110.25,2.00,10.0,1,"
    "\xE9\x94\x85\xE7\x82\x89\xE6\x88\xBF\r\n" // 锅炉房
    "2,2026-05-06 10:25:00,2026-05-06 10:25:00,1,0.00,0.00,0.00,0.00,0.0,0,301\r\n"
    "12,2026-05-07 00:00:00,2026-05-07 00:00:00,1,0.00,0.00,0.00,0.00,0.0,0,\r\n"
    "合计,,,4,0.00,8.00,12345678901111110.25,2.00,,,\r\n";
constexpr const char* kEnergyCaptions = "表号,开始时间,结束时间,记录数,热量用量(kWh),冷量用量(kWh),"
                                        "正向用量(m³),反向用量(m³),最长间隔(分钟),回退次数,名称";

TEST_F(HistoryTool, EnergyIsTheTabsTableAsCsvAndXlsx) {
    folder.exec("INSERT INTO Meters (Row, Address, Profile, Name) VALUES "
                "(1, 1, 'default', '锅炉房'), (2, 2, 'default', '301'), (3, 12, 'default', NULL)");
    const auto run = tool({"energy", "--from", "2026-05-06", "--to", "2026-05-07", "--format",
                           "csv", "--output", file("energy.csv")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read(file("energy.csv")),
              std::string("\xEF\xBB\xBF") + kEnergyCaptions + "\r\n" + kEnergyRows);

    const auto xlsx = tool({"energy", "--from", "2026-05-06", "--to", "2026-05-07", "--meter", "2",
                            "--format", "xlsx", "--output", file("energy.xlsx")});
    ASSERT_EQ(xlsx.status, 0) << xlsx.err;
    const test::OfficeCsv office(file("energy.xlsx"));
    // Quoted cells are texts, bare ones numbers; the times are date-times in their own format.
    EXPECT_EQ(office.sheet(1), R"x("表号","开始时间","结束时间","记录数","热量用量(kWh)",)x"
                               R"x("冷量用量(kWh)","正向用量(m³)","反向用量(m³)",)x"
                               R"x("最长间隔(分钟)","回退次数","名称")x"
                               "\n"
                               "2,2026-05-06 10:25:00,2026-05-06 10:25:00,1,0.00,0.00,0.00,0.00,"
                               R"x(0.0,0,"301")x"
                               "\n"
                               R"x("合计",,,1,0.00,0.00,0.00,0.00,,,)x"
                               "\n")
        << office.run().err;
}

TEST_F(HistoryTool, ErrorsGiveTheirStatusAndOneLine) {
    std::ofstream(file("text.mdb")) << "hello\n";
    ASSERT_EQ(createDatabase(file("plain.mdb"), "CREATE TABLE t (a);"), std::nullopt);
    Database holder(folder.databasePath());
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string message;
        bool locked = false; // another connection holds the write lock meanwhile
    } cases[] = {
        {"missing database",
         {"--db", file("none.mdb"), "backup", file("b.mdb")},
         2,
         "no database at " + file("none.mdb")},
        {"not a database",
         {"--db", file("text.mdb"), "backup", file("b.mdb")},
         2,
         file("text.mdb") + " is not a database"},
        {"no history table",
         {"--db", file("plain.mdb"), "backup", file("b.mdb")},
         2,
         file("plain.mdb") + " is not the station's database (it has no Historydata table)"},
        {"lock held past the timeout",
         {"--timeout", "0.2", "prune", "--before", "2026-05-07", "--yes"},
         2,
         "the database " + folder.databasePath() +
             " is locked by another program (gave up after 0.2 s)",
         true},
        {"unreadable date",
         {"export", "--from", "2026-13-01", "--to", "2026-05-07", "--format", "csv", "--output",
          "-"},
         1,
         "--from: cannot read the date '2026-13-01': write YYYY-MM-DD or YYYY-MM-DD "
         "HH:MM[:SS] (see mirv-history export --help)"},
        {"unreadable step",
         {"export", "--from", "2026-05-06", "--to", "2026-05-07", "--step", "0", "--format", "csv",
          "--output", "-"},
         1,
         "--step: '0' is not a whole number of minutes from 1 to 60 (see mirv-history export "
         "--help)"},
        {"unwritable output",
         {"export", "--from", "2026-05-06", "--to", "2026-05-07", "--format", "csv", "--output",
          file("no/such/x.csv")},
         2,
         "cannot write " + file("no/such/x.csv") + ": No such file or directory"},
        {"backup onto the database",
         {"backup", folder.databasePath()},
         2,
         "refusing to write " + folder.databasePath() + ": it is the station's database " +
             folder.databasePath()},
        {"timeout of 0",
         {"--timeout", "0", "prune", "--before", "2026-05-07", "--yes"},
         1,
         "--timeout: '0' is not a number of seconds above 0 and at most 86400 (see mirv-history "
         "prune --help)"},
        {"timeout past a day",
         {"--timeout", "1e300", "prune", "--before", "2026-05-07", "--yes"},
         1,
         "--timeout: '1e300' is not a number of seconds above 0 and at most 86400 (see "
         "mirv-history prune --help)"},
        {"prune without a terminal",
         {"prune", "--before", "2026-05-07"},
         1,
         "not asking without a terminal: add --yes to delete"},
        {"unknown command", {"frob"}, 1, "unknown command 'frob' (see mirv-history --help)"},
        {"range backwards",
         {"energy", "--from", "2026-05-07", "--to", "2026-05-06", "--format", "csv", "--output",
          "-"},
         1,
         "--from: 2026-05-07 00:00:00 is later than --to 2026-05-06 00:00:00 (see mirv-history "
         "energy --help)"},
        {"negative step",
         {"export", "--from", "2026-05-06", "--to", "2026-05-07", "--step", "-5", "--format", "csv",
          "--output", "-"},
         1,
         "--step: '-5' is not a whole number of minutes from 1 to 60 (see mirv-history export "
         "--help)"},
        {"meter out of range",
         {"linkstats", "--from", "2026-05-06", "--to", "2026-05-07", "--meter", "0"},
         1,
         "--meter: '0' is not a meter number from 1 to 255 (empty or 全部: all) (see "
         "mirv-history linkstats --help)"},
        {"empty database name",
         {"--db", "", "backup", file("b.mdb")},
         1,
         "--db: an empty name names no file (see mirv-history backup --help)"},
        {"empty output name",
         {"export", "--from", "2026-05-06", "--to", "2026-05-07", "--format", "csv", "--output",
          ""},
         1,
         "--output: an empty name names no file (see mirv-history export --help)"},
        {"workbook onto a full device",
         {"export", "--from", "2026-05-06", "--to", "2026-05-07", "--format", "xlsx", "--output",
          "/dev/full"},
         2,
         "cannot write /dev/full: No space left on device"},
        {"missing option",
         {"export", "--from", "2026-05-06"},
         1,
         "--to is required (see mirv-history export --help)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.locked) {
            ASSERT_TRUE(holder.exec("BEGIN IMMEDIATE"));
        }
        const auto run = tool(c.args);
        if (c.locked)
            holder.exec("ROLLBACK");
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, "mirv-history: " + c.message + "\n");
        EXPECT_EQ(run.out, "");
    }
    EXPECT_FALSE(fs::exists(file("none.mdb"))); // never created
    EXPECT_FALSE(fs::exists(file("b.mdb")));
    EXPECT_EQ(historyRows(), 5);
}

// No command writes over the database or the files beside it, whatever name leads there; the
// database's bytes stay as they were.
TEST_F(HistoryTool, OutputsNeverReplaceTheDatabase) {
    const std::string db = folder.databasePath();
    fs::create_symlink(db, file("link.csv"));
    fs::create_hard_link(db, file("hard.csv"));
    // A link to the write-ahead log before there is one: opening the database would make it.
    fs::create_symlink(db + "-wal", file("wal-later.csv"));
    const auto early = tool({"export", "--from", "2026-05-06", "--to", "2026-05-07", "--format",
                             "csv", "--output", file("wal-later.csv")});
    EXPECT_EQ(early.status, 2);
    EXPECT_EQ(early.err, "mirv-history: refusing to write " + file("wal-later.csv") +
                             ": it is the write-ahead log of the database " + db + "\n");
    // A reader keeps the write-ahead log there, as the station does.
    Database reader(db);
    ASSERT_TRUE(reader.exec("BEGIN; SELECT count(*) FROM Historydata;"));
    ASSERT_TRUE(fs::exists(db + "-wal"));
    fs::create_symlink(db + "-wal", file("wal-link.csv"));
    const std::string before = read(db);
    const std::vector<std::string> range{"--from", "2026-05-06", "--to", "2026-05-07"};
    const struct {
        std::string output;
        std::string what;
    } outputs[] = {
        {db, "the station's database " + db},
        {file("link.csv"), "the station's database " + db},
        {file("hard.csv"), "the station's database " + db},
        {db + "-wal", "the write-ahead log of the database " + db},
        {file("wal-link.csv"), "the write-ahead log of the database " + db},
        {db + "-journal", "the rollback journal of the database " + db},
        {db + "-pending.csv", "the file of history rows waiting for " + db},
    };
    for (const auto& o : outputs) {
        for (const std::string command : {"export csv", "export xlsx", "energy csv", "backup"}) {
            SCOPED_TRACE(command + " to " + o.output);
            std::vector<std::string> args;
            if (command == "backup") {
                args = {"backup", o.output};
            } else {
                args = {command.substr(0, command.find(' '))};
                args.insert(args.end(), range.begin(), range.end());
                args.insert(args.end(), {"--format", command.substr(command.find(' ') + 1),
                                         "--output", o.output});
            }
            const auto run = tool(args);
            EXPECT_EQ(run.status, 2);
            EXPECT_EQ(run.err,
                      "mirv-history: refusing to write " + o.output + ": it is " + o.what + "\n");
        }
    }
    EXPECT_EQ(read(db), before);
    EXPECT_FALSE(fs::exists(db + "-pending.csv"));
    EXPECT_FALSE(fs::exists(db + "-journal"));
    // The program folder's own files, and standard output sent into the database.
    const std::string copy = file("mirv-history");
    fs::copy_file(MIRV_HISTORY_TOOL, copy);
    auto run = runProgram({copy, "export", "--from", "2026-05-06", "--to", "2026-05-07", "--format",
                           "csv", "--output", file("mirv-history")});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "mirv-history: refusing to write " + copy +
                           ": it is mirv-history, which "
                           "the program folder " +
                           folder.path() + " ships\n");
    const int appended = ::open(db.c_str(), O_WRONLY | O_APPEND);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(appended, 1);
        ::execl(MIRV_HISTORY_TOOL, MIRV_HISTORY_TOOL, "--db", db.c_str(), "export", "--from",
                "2026-05-06", "--to", "2026-05-07", "--format", "csv", "--output", "-", nullptr);
        ::_exit(127);
    }
    ::close(appended);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(read(db), before);
}

// A damaged database is told in one line by every command; a backup whose copy fails its
// check leaves the earlier backup as it was.
TEST_F(HistoryTool, DamagedDatabaseIsOneLineInEveryCommand) {
    std::ofstream(file("b.mdb")) << "last week's backup";
    folder.exec("PRAGMA journal_mode = DELETE");
    {
        Database db(folder.databasePath());
        ASSERT_TRUE(db.exec("BEGIN"));
        for (int i = 0; i < 3000; ++i)
            ASSERT_TRUE(db.exec("INSERT INTO Historydata (MeterID, Foward, Alarmstatus, "
                                "CreateTime) VALUES ('3', '" +
                                std::to_string(i) + ".00', '通讯正常', '2026-05-06 11:00:00')"));
        ASSERT_TRUE(db.exec("COMMIT"));
    }
    // Garbage over the pages in the middle of the file: the history table's own pages.
    {
        std::fstream f(folder.databasePath(), std::ios::in | std::ios::out | std::ios::binary);
        const auto pages = fs::file_size(folder.databasePath()) / 4096;
        for (auto p = pages / 2; p < pages / 2 + 6; ++p) {
            f.seekp(static_cast<std::streamoff>(p * 4096 + 8));
            f << std::string(3000, '\xff');
        }
    }
    const std::vector<std::string> range{"--from", "2026-05-06", "--to", "2026-05-07"};
    const std::vector<std::vector<std::string>> commands{
        {"export", "--format", "csv", "--output", file("o.csv")},
        {"export", "--format", "xlsx", "--output", file("o.xlsx")},
        {"energy", "--format", "csv", "--output", file("e.csv")},
        {"backup", file("b.mdb")},
        {"prune", "--before", "2026-05-07", "--yes"},
    };
    for (auto args : commands) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        if (args[0] == "export" || args[0] == "energy")
            args.insert(args.begin() + 1, range.begin(), range.end());
        const auto run = tool(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.starts_with("mirv-history: ")) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        if (args[0] == "backup") {
            EXPECT_NE(run.err.find("failed its integrity check"), std::string::npos) << run.err;
        }
    }
    for (const char* name : {"o.csv", "o.xlsx", "e.csv"})
        EXPECT_FALSE(fs::exists(file(name))) << name;
    EXPECT_EQ(read(file("b.mdb")), "last week's backup");
    for (const auto& entry : fs::directory_iterator(folder.path()))
        EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();
}

TEST_F(HistoryTool, PruneAsksOnTheTerminal) {
    const struct {
        const char* answer;
        int status;
        std::int64_t rowsLeft;
    } cases[] = {{"n\n", 1, 5}, {"\n", 1, 5}, {"y\n", 0, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        test::PtyPair terminal;
        ASSERT_EQ(::write(terminal.master(), c.answer, std::strlen(c.answer)),
                  static_cast<ssize_t>(std::strlen(c.answer)));
        const int in = ::open(terminal.slaveName().c_str(), O_RDWR | O_NOCTTY);
        const auto run = tool({"prune", "--before", "2026-05-06 10:30"}, in);
        ::close(in);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(run.err.starts_with("Delete 3 history rows stamped before 2026-05-06 "
                                        "10:30:00 from " +
                                        folder.databasePath() + "? [y/N] "))
            << run.err;
        EXPECT_EQ(historyRows(), c.rowsLeft);
    }
    // The pruned days are summed up again before the tool ends: no day is left stale, and the
    // summaries hold exactly the rows that stayed.
    Database db(folder.databasePath());
    Statement stale(db, "SELECT count(*) FROM HistorydayStale");
    ASSERT_TRUE(stale.step());
    EXPECT_EQ(stale.integer(0), 0);
    Statement days(db, "SELECT Day, MeterID, Records, FirstTime, LastTime FROM Historyday "
                       "ORDER BY Day, MeterID");
    std::vector<std::string> summaries;
    while (days.step())
        summaries.push_back(days.text(0) + " " + days.text(1) + " " + days.text(2) + " " +
                            days.text(3) + " " + days.text(4));
    EXPECT_EQ(summaries, (std::vector<std::string>{
                             "2026-05-06 1 1 2026-05-06 10:30:00 2026-05-06 10:30:00",
                             "2026-05-07 12 1 2026-05-07 00:00:00 2026-05-07 00:00:00"}));
}

TEST_F(HistoryTool, HelpForTheToolAndEachCommand) {
    const std::vector<std::string> commands = {"", "export", "energy", "backup", "prune"};
    for (const auto& command : commands) {
        SCOPED_TRACE(command);
        auto run = command.empty() ? runProgram({MIRV_HISTORY_TOOL, "--help"})
                                   : runProgram({MIRV_HISTORY_TOOL, command, "--help"});
        EXPECT_EQ(run.status, 0);
        const std::string usage = command.empty() ? "mirv-history [OPTIONS] SUBCOMMAND"
                                                  : "mirv-history " + command + " [OPTIONS]";
        EXPECT_NE(run.out.find("Usage: " + usage), std::string::npos) << run.out;
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(HistoryTool, DatabaseIsTheOneBesideTheProgram) {
    // A copy of the tool in the program folder finds mirv.mdb beside itself.
    const std::string copy = file("mirv-history");
    fs::copy_file(MIRV_HISTORY_TOOL, copy);
    auto run = runProgram({copy, "export", "--from", "2026-05-07", "--to", "2026-05-07", "--format",
                           "csv", "--output", "-"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\r\n4,12,0.5000,"), std::string::npos) << run.out;
    fs::remove(folder.databasePath());
    run = runProgram({copy, "backup", file("b.mdb")});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "mirv-history: no database at " + folder.databasePath() + "\n");
    EXPECT_FALSE(fs::exists(folder.databasePath()));
}

} // namespace
} // namespace mirv
