#include "database.h"

#include <cmath>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mirv {

namespace {

// A connection made while the database was read-only leaves its -wal and -shm read-only
// too, and SQLite then opens every later connection read-only, also once the database is
// writable again. Those of ours get the database's mode back.
void restoreCompanionModes(const std::string& path) {
    struct stat database {};
    if (::access(path.c_str(), W_OK) != 0 || ::stat(path.c_str(), &database) != 0)
        return;
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string companion = path + suffix;
        struct stat st {};
        if (::lstat(companion.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid() && (st.st_mode & 0777) != (database.st_mode & 0777) &&
            ::access(companion.c_str(), W_OK) != 0)
            ::chmod(companion.c_str(), database.st_mode & 0777);
    }
}

} // namespace

Database::Database(const std::string& path, int busyTimeoutMs, Locking locking, Access access) {
    if (access == Access::ReadWrite)
        restoreCompanionModes(path);
    sqlite3* db = nullptr;
    const int flags = (access == Access::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                      (locking == Locking::OneThread ? SQLITE_OPEN_NOMUTEX : 0);
    const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        error_ = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        if (rc == SQLITE_CANTOPEN)
            error_ = "Could not find file '" + path + "'.";
        sqlite3_close(db);
        return;
    }
    db_ = db;
    sqlite3_extended_result_codes(db_, 1);
    // A committed row must survive a power cut. Setting it reads the schema, which must not
    // wait for another connection on its own: the statements after it do.
    exec("PRAGMA synchronous = FULL");
    error_.clear();
    sqlite3_busy_timeout(db_, busyTimeoutMs);
}

Database::~Database() {
    if (db_)
        sqlite3_close_v2(db_);
}

int Database::changes() const {
    return db_ ? sqlite3_changes(db_) : 0;
}

bool Database::exec(std::string_view sql) {
    if (!db_)
        return false;
    char* message = nullptr;
    const std::string text(sql);
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        error_ = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        return false;
    }
    return true;
}

Statement::Statement(Database& db, std::string_view sql) : db_(db) {
    if (!db.isOpen())
        return;
    if (sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &stmt_,
                           nullptr) != SQLITE_OK) {
        db.setError(sqlite3_errmsg(db.handle()));
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

void Statement::bind(int index, std::string_view text) {
    if (stmt_)
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
}

void Statement::bind(int index, std::int64_t value) {
    if (stmt_)
        sqlite3_bind_int64(stmt_, index, value);
}

void Statement::bindNull(int index) {
    if (stmt_)
        sqlite3_bind_null(stmt_, index);
}

bool Statement::step() {
    if (!stmt_) {
        failed_ = true;
        return false;
    }
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE) {
        failed_ = true;
        db_.setError(sqlite3_errmsg(db_.handle()));
    }
    return false;
}

void Statement::reset() {
    if (stmt_) {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    failed_ = false;
}

int Statement::columnCount() const {
    return stmt_ ? sqlite3_column_count(stmt_) : 0;
}

std::string Statement::columnName(int column) const {
    const char* name = stmt_ ? sqlite3_column_name(stmt_, column) : nullptr;
    return name ? name : "";
}

bool Statement::isNull(int column) const {
    return !stmt_ || sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::string Statement::text(int column) const {
    const auto* p = stmt_ ? sqlite3_column_text(stmt_, column) : nullptr;
    if (!p)
        return {};
    return std::string(reinterpret_cast<const char*>(p),
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::string_view Statement::textView(int column) const {
    const auto* p = stmt_ ? sqlite3_column_text(stmt_, column) : nullptr;
    if (!p)
        return {};
    return {reinterpret_cast<const char*>(p),
            static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))};
}

std::int64_t Statement::integer(int column) const {
    return stmt_ ? sqlite3_column_int64(stmt_, column) : 0;
}

std::optional<std::int64_t> Statement::wholeNumber(int column) const {
    if (!stmt_)
        return std::nullopt;
    switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_INTEGER:
        return sqlite3_column_int64(stmt_, column);
    case SQLITE_FLOAT: {
        const double d = sqlite3_column_double(stmt_, column);
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9e18)
            return static_cast<std::int64_t>(d);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

} // namespace mirv
