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
