#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace mirv {

// One connection to the station's database file. Opening never creates a missing file.
// Every operation opens its own connection and lets it go when done.
class Database {
  public:
    // Whether SQLite locks around every call: a connection only ever used by the thread that
    // opened it can do without, which makes long reads faster.
    enum class Locking { Serialized, OneThread };
    enum class Access { ReadWrite, ReadOnly };

    // Opens an existing file for reading and writing (or only reading); on failure isOpen() is
    // false and error() tells why.
    explicit Database(const std::string& path, int busyTimeoutMs = 2000,
                      Locking locking = Locking::Serialized, Access access = Access::ReadWrite);
    Database(const std::string& path, int busyTimeoutMs, Access access)
        : Database(path, busyTimeoutMs, Locking::Serialized, access) {}
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    bool isOpen() const { return db_ != nullptr; }
    const std::string& error() const { return error_; }

    // Runs statements that return no rows; false (and error()) on failure.
    bool exec(std::string_view sql);

    // Rows changed by the last statement.
    int changes() const;

    sqlite3* handle() const { return db_; }
    void setError(std::string e) { error_ = std::move(e); }

  private:
    sqlite3* db_ = nullptr;
    std::string error_;
};

// A prepared statement on a Database. Parameters are numbered from 1, columns from 0.
class Statement {
  public:
    Statement(Database& db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }

    void bind(int index, std::string_view text);
    void bind(int index, std::int64_t value);
    void bindNull(int index);

    // True while a row is there; false at the end or on failure (then the Database has the
    // error and failed() is true).
    bool step();
    bool failed() const { return failed_; }
    void reset();

    int columnCount() const;
    std::string columnName(int column) const;
    bool isNull(int column) const;
    std::string text(int column) const;
    // The column's text without a copy; valid until the next step().
    std::string_view textView(int column) const;
    std::int64_t integer(int column) const;
    // Whether the column's value is stored as an integer or a whole-numbered real.
    std::optional<std::int64_t> wholeNumber(int column) const;

  private:
    Database& db_;
    sqlite3_stmt* stmt_ = nullptr;
    bool failed_ = false;
};

} // namespace mirv
