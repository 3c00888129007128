-- The station's database: the settings row and the history table. WAL keeps readers from
-- blocking the logger.
PRAGMA journal_mode = WAL;

CREATE TABLE mirve (
    "timer" TEXT,
    "minute" TEXT,
    "com" INTEGER,
    "Settings" TEXT,
    "num" TEXT
);
INSERT INTO mirve ("timer", "minute", "com", "Settings", "num") VALUES ('2000', '1', 1, '9600', '1');

CREATE TABLE Historydata (
    ID INTEGER PRIMARY KEY AUTOINCREMENT,
    MeterID TEXT,
    MinuteAverage TEXT,
    Foward TEXT,
    Reverse TEXT,
    TXTctemperature1 TEXT,
    TXTctemperature2 TEXT,
    TXTreliang TEXT,
    TXTlengliang TEXT,
    TXTleijire_z TEXT,
    TXTleijileng_z TEXT,
    Alarmstatus TEXT,
    CreateTime TEXT -- local time, 'YYYY-MM-DD HH:MM:SS'
);
CREATE INDEX IF NOT EXISTS Historydata_CreateTime ON Historydata (CreateTime);
CREATE INDEX IF NOT EXISTS Historydata_MeterID_CreateTime ON Historydata (MeterID, CreateTime);
-- The minute of the hour with the time, so a query thinned to every N-th minute reads only the
-- rows of those minutes.
CREATE INDEX IF NOT EXISTS Historydata_Minute_CreateTime
    ON Historydata (CAST(substr(CreateTime, 15, 2) AS INTEGER), CreateTime);
-- The line's health: one row per polled meter and hour, written on the hour.
CREATE TABLE IF NOT EXISTS Linkstats (MeterID INTEGER, Hour TEXT, Requests INTEGER, Answers INTEGER, Misses INTEGER, CrcWrong INTEGER, TooShort INTEGER, TooLong INTEGER, Trailing INTEGER, WrongFunction INTEGER, WrongAddress INTEGER, ResponseMeanUs INTEGER, ResponseMaxUs INTEGER);
CREATE UNIQUE INDEX IF NOT EXISTS Linkstats_Hour_MeterID ON Linkstats (Hour, MeterID);
-- The meter of each board row (1..20): its address (1..247), its profile's name, a name and
-- whether it is polled. A row without an entry is polled at its number with the default
-- profile, so an empty table is the station as it always was.
CREATE TABLE IF NOT EXISTS Meters (Row INTEGER PRIMARY KEY, Address INTEGER NOT NULL, Profile TEXT NOT NULL, Name TEXT, Polled INTEGER NOT NULL DEFAULT 1);
-- Per meter and day (the first ten characters of CreateTime), what the energy table needs of
-- that day's records, kept by each logging pass; see energy/day_summary.h.
CREATE TABLE IF NOT EXISTS Historyday (
    Day TEXT NOT NULL,
    MeterID TEXT NOT NULL,
    Records INTEGER NOT NULL,
    FirstTime TEXT NOT NULL,
    LastTime TEXT NOT NULL,
    FirstWall INTEGER,
    LastWall INTEGER,
    LongestGap INTEGER NOT NULL,
    StepBacks INTEGER NOT NULL,
    Totals TEXT NOT NULL,
    FirstID INTEGER NOT NULL,
    LastID INTEGER NOT NULL,
    PRIMARY KEY (Day, MeterID)
) WITHOUT ROWID;
-- Per meter and hour (the first 13 characters of CreateTime), what a trend over a long range
-- needs of that hour's records, kept with the day's summary; see energy/hour_summary.h.
CREATE TABLE IF NOT EXISTS Historyhour (
    MeterID TEXT NOT NULL,
    Hour TEXT NOT NULL,
    Records INTEGER NOT NULL,
    FirstWall INTEGER NOT NULL,
    LastWall INTEGER NOT NULL,
    Steps INTEGER NOT NULL,
    LongestStep INTEGER NOT NULL,
    Lines TEXT NOT NULL,
    FirstID INTEGER NOT NULL,
    LastID INTEGER NOT NULL,
    PRIMARY KEY (MeterID, Hour)
) WITHOUT ROWID;
-- Each meter's latest hour, summed up only once the meter's records have gone past it (so that
-- a logging pass writes an hour's summary once, not at each pass): read from the rows till then.
CREATE TABLE IF NOT EXISTS HistoryhourOpen (
    MeterID TEXT NOT NULL PRIMARY KEY,
    Hour TEXT NOT NULL
) WITHOUT ROWID;
-- Days whose rows changed behind the summaries' back (deleted, edited): read from the rows
-- until they are summed up again.
CREATE TABLE IF NOT EXISTS HistorydayStale (
    Day TEXT NOT NULL,
    MeterID TEXT NOT NULL,
    PRIMARY KEY (Day, MeterID)
) WITHOUT ROWID;
-- Days before Through are summed up (NULL: all); rows up to SeenID are in the summaries.
CREATE TABLE IF NOT EXISTS HistorydayProgress (Through TEXT, SeenID INTEGER NOT NULL);
INSERT INTO HistorydayProgress (Through, SeenID)
    SELECT CASE WHEN EXISTS (SELECT 1 FROM Historydata) THEN '' END,
           coalesce((SELECT max(ID) FROM Historydata), 0)
    WHERE NOT EXISTS (SELECT 1 FROM HistorydayProgress);
CREATE TRIGGER IF NOT EXISTS Historyday_deleted AFTER DELETE ON Historydata
    WHEN OLD.MeterID IS NOT NULL AND typeof(OLD.CreateTime) = 'text'
BEGIN
    INSERT OR IGNORE INTO HistorydayStale (Day, MeterID)
        VALUES (substr(OLD.CreateTime, 1, 10), CAST(OLD.MeterID AS TEXT));
END;
CREATE TRIGGER IF NOT EXISTS Historyday_updated
    AFTER UPDATE OF ID, MeterID, CreateTime, Foward, Reverse, TXTleijire_z, TXTleijileng_z,
        MinuteAverage, TXTctemperature1, TXTctemperature2, TXTreliang, TXTlengliang
    ON Historydata
BEGIN
    INSERT OR IGNORE INTO HistorydayStale (Day, MeterID)
        SELECT substr(OLD.CreateTime, 1, 10), CAST(OLD.MeterID AS TEXT)
        WHERE OLD.MeterID IS NOT NULL AND typeof(OLD.CreateTime) = 'text';
    INSERT OR IGNORE INTO HistorydayStale (Day, MeterID)
        SELECT substr(NEW.CreateTime, 1, 10), CAST(NEW.MeterID AS TEXT)
        WHERE NEW.MeterID IS NOT NULL AND typeof(NEW.CreateTime) = 'text';
END;
