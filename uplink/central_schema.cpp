#include "central_schema.h"

#include "pg_result.h"

namespace mirv {

namespace {

// Version 1. station_history: one row per local Historydata row. The key is the station, the
// meter and the local CreateTime, plus time_repeat: how many earlier local rows of that meter
// carry the same CreateTime (0 but for a clock set back), so a reading is stored once however
// often it is sent. The key's index also serves "one meter of one station over a time range".
// Stations compare bytewise (COLLATE "C"), which keeps the key's comparisons cheap.
// station_uplink_progress: per station, the last local row forwarded and its fingerprint,
// written in the transaction that stores the rows.
constexpr const char* kVersion1 = R"sql(
CREATE TABLE station_history (
    station            text        COLLATE "C" NOT NULL,
    local_id           bigint      NOT NULL,
    meter_id           integer     NOT NULL,
    flow_rate          numeric,
    forward_total      numeric,
    reverse_total      numeric,
    inlet_temperature  numeric,
    outlet_temperature numeric,
    heat_power         numeric,
    cold_power         numeric,
    heat_total         numeric,
    cold_total         numeric,
    alarm_status       text,
    create_time        timestamp   NOT NULL,
    time_repeat        smallint    NOT NULL DEFAULT 0,
    received_at        timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (station, meter_id, create_time, time_repeat)
);
CREATE TABLE station_uplink_progress (
    station       text        COLLATE "C" PRIMARY KEY,
    last_local_id bigint      NOT NULL,
    last_row_hash bigint      NOT NULL,
    updated_at    timestamptz NOT NULL DEFAULT now()
);
)sql";

// Version 2. stations: one row per station, with the identity of the PC that forwards it, its
// time zone, when it was first and last heard from, and the rows it added. station_history
// gains the UTC instant of create_time and, for a row whose MeterID or CreateTime text is not
// the stored form, those texts (source_key). station_conflicts keeps each reading that came
// for a key the server holds with other values. station_roles ties a login role to the one
// station it may write; row-level security confines each station role to its own rows, and
// mirv_reader roles read every row. mirv_grant_rights() grants what the group roles of
// central_roles.sql need, when they exist; that script calls it too.
constexpr const char* kVersion2 = R"sql(
CREATE TABLE stations (
    name           text        COLLATE "C" PRIMARY KEY,
    identity       text,
    zone           text,
    first_seen     timestamptz NOT NULL DEFAULT now(),
    last_seen      timestamptz NOT NULL DEFAULT now(),
    rows_forwarded bigint      NOT NULL DEFAULT 0
);
INSERT INTO stations (name, first_seen, last_seen, rows_forwarded)
SELECT p.station, p.updated_at, p.updated_at,
       (SELECT count(*) FROM station_history h WHERE h.station = p.station)
FROM station_uplink_progress p;
ALTER TABLE station_history ADD COLUMN create_instant timestamptz, ADD COLUMN source_key text;
CREATE TABLE station_conflicts (
    station     text        COLLATE "C" NOT NULL,
    meter_id    integer     NOT NULL,
    create_time timestamp   NOT NULL,
    time_repeat smallint    NOT NULL,
    held        jsonb       NOT NULL,
    offered     jsonb       NOT NULL,
    noticed_at  timestamptz NOT NULL DEFAULT now()
);
CREATE UNIQUE INDEX station_conflicts_once
    ON station_conflicts (station, meter_id, create_time, time_repeat, md5(offered::text));
CREATE TABLE station_roles (
    role_name name PRIMARY KEY,
    station   text COLLATE "C" NOT NULL UNIQUE
);
CREATE FUNCTION mirv_station_of(role_name name) RETURNS text
    LANGUAGE sql STABLE SECURITY DEFINER SET search_path = public, pg_temp
    AS $$ SELECT r.station FROM station_roles r WHERE r.role_name = $1 $$;
CREATE FUNCTION mirv_reads_all(role_name name) RETURNS boolean
    LANGUAGE sql STABLE SET search_path = public, pg_temp
    AS $$ SELECT EXISTS (SELECT FROM pg_roles g
                         WHERE g.rolname = 'mirv_reader' AND pg_has_role($1, g.oid, 'USAGE')) $$;

ALTER TABLE station_history ENABLE ROW LEVEL SECURITY;
ALTER TABLE station_uplink_progress ENABLE ROW LEVEL SECURITY;
ALTER TABLE stations ENABLE ROW LEVEL SECURITY;
ALTER TABLE station_conflicts ENABLE ROW LEVEL SECURITY;
CREATE POLICY reading ON station_history FOR SELECT
    USING (station = (SELECT mirv_station_of(current_user)) OR (SELECT mirv_reads_all(current_user)));
CREATE POLICY adding ON station_history FOR INSERT
    WITH CHECK (station = (SELECT mirv_station_of(current_user)));
CREATE POLICY reading ON station_conflicts FOR SELECT
    USING (station = (SELECT mirv_station_of(current_user)) OR (SELECT mirv_reads_all(current_user)));
CREATE POLICY adding ON station_conflicts FOR INSERT
    WITH CHECK (station = (SELECT mirv_station_of(current_user)));
CREATE POLICY reading ON station_uplink_progress FOR SELECT
    USING (station = (SELECT mirv_station_of(current_user)) OR (SELECT mirv_reads_all(current_user)));
CREATE POLICY adding ON station_uplink_progress FOR INSERT
    WITH CHECK (station = (SELECT mirv_station_of(current_user)));
CREATE POLICY moving ON station_uplink_progress FOR UPDATE
    USING (station = (SELECT mirv_station_of(current_user)))
    WITH CHECK (station = (SELECT mirv_station_of(current_user)));
CREATE POLICY reading ON stations FOR SELECT
    USING (name = (SELECT mirv_station_of(current_user)) OR (SELECT mirv_reads_all(current_user)));
CREATE POLICY adding ON stations FOR INSERT
    WITH CHECK (name = (SELECT mirv_station_of(current_user)));
CREATE POLICY moving ON stations FOR UPDATE
    USING (name = (SELECT mirv_station_of(current_user)))
    WITH CHECK (name = (SELECT mirv_station_of(current_user)));

CREATE FUNCTION mirv_grant_rights() RETURNS void LANGUAGE plpgsql SET search_path = public, pg_temp
AS $$
BEGIN
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_station') THEN
        GRANT SELECT ON station_history_migrations TO mirv_station;
        GRANT SELECT, INSERT ON station_history, station_conflicts TO mirv_station;
        GRANT SELECT, INSERT, UPDATE (last_local_id, last_row_hash, updated_at)
            ON station_uplink_progress TO mirv_station;
        GRANT SELECT, INSERT, UPDATE (identity, zone, last_seen, rows_forwarded)
            ON stations TO mirv_station;
    END IF;
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_reader') THEN
        GRANT SELECT ON station_history, station_uplink_progress, stations, station_conflicts,
            station_history_migrations TO mirv_reader;
    END IF;
END
$$;
REVOKE ALL ON FUNCTION mirv_grant_rights() FROM PUBLIC;
SELECT mirv_grant_rights();
)sql";

// Version 3. station_linkstats: one row per local Linkstats row, the line's health of a meter
// over an hour, keyed by station, meter and hour (the station writes one row per meter and
// hour, and a row sent again is left out). station_uplink_progress gains the mark of the
// station's Linkstats, moved in the transaction that stores its rows. Each station role sees
// and adds only its own rows, as with the readings; mirv_grant_rights() grants the new rights.
constexpr const char* kVersion3 = R"sql(
CREATE TABLE station_linkstats (
    station          text        COLLATE "C" NOT NULL,
    meter_id         integer     NOT NULL,
    hour             timestamp   NOT NULL,
    requests         bigint,
    answers          bigint,
    misses           bigint,
    crc_wrong        bigint,
    too_short        bigint,
    too_long         bigint,
    trailing_bytes   bigint,
    wrong_function   bigint,
    wrong_address    bigint,
    response_mean_us bigint,
    response_max_us  bigint,
    received_at      timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (station, meter_id, hour)
);
ALTER TABLE station_uplink_progress
    ADD COLUMN last_linkstats_id bigint NOT NULL DEFAULT 0,
    ADD COLUMN last_linkstats_hash bigint NOT NULL DEFAULT 0;
ALTER TABLE station_linkstats ENABLE ROW LEVEL SECURITY;
CREATE POLICY reading ON station_linkstats FOR SELECT
    USING (station = (SELECT mirv_station_of(current_user)) OR (SELECT mirv_reads_all(current_user)));
CREATE POLICY adding ON station_linkstats FOR INSERT
    WITH CHECK (station = (SELECT mirv_station_of(current_user)));

CREATE OR REPLACE FUNCTION mirv_grant_rights() RETURNS void LANGUAGE plpgsql
    SET search_path = public, pg_temp
AS $$
BEGIN
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_station') THEN
        GRANT SELECT ON station_history_migrations TO mirv_station;
        GRANT SELECT, INSERT ON station_history, station_conflicts, station_linkstats
            TO mirv_station;
        GRANT SELECT, INSERT, UPDATE (last_local_id, last_row_hash, last_linkstats_id,
                                      last_linkstats_hash, updated_at)
            ON station_uplink_progress TO mirv_station;
        GRANT SELECT, INSERT, UPDATE (identity, zone, last_seen, rows_forwarded)
            ON stations TO mirv_station;
    END IF;
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_reader') THEN
        GRANT SELECT ON station_history, station_uplink_progress, stations, station_conflicts,
            station_linkstats, station_history_migrations TO mirv_reader;
    END IF;
END
$$;
SELECT mirv_grant_rights();
)sql";

// Version 4. What a station role may do is what forwarding its own rows needs, and nothing it
// writes can grow without bound or stop another station:
// - Policies ask mirv_own_station() and mirv_reads_all() about the role asking, and nobody but
//   the owner may ask mirv_station_of() about another role; station_roles shows each role its
//   own row only.
// - stations: a station role writes an identity of 32 hex digits, never none; a zone must be
//   a tz database name the server reads; counts are never negative; rows_set_aside counts the local
//   rows the server could not take; conflicts_kept counts the station's rows in station_conflicts.
// - station_conflicts keeps at most 10 offers per key and 10000 rows per station, each at
//   most 4 kB; what is not kept is said as a warning.
// - station_uplink_progress: mark_origin names the PC and file the mark was read from, so a
//   second PC forwarding the same station from other files is told from a restored file.
// Uplinks lock their own station's row in stations for each batch: a lock no other station
// role can take, held by the transaction only.
constexpr const char* kVersion4 = R"sql(
REVOKE EXECUTE ON FUNCTION mirv_station_of(name), mirv_reads_all(name) FROM PUBLIC;
ALTER TABLE station_roles ENABLE ROW LEVEL SECURITY;
CREATE POLICY own ON station_roles FOR SELECT USING (role_name = current_user);
CREATE FUNCTION mirv_own_station() RETURNS text
    LANGUAGE sql STABLE SET search_path = public, pg_temp
    AS $$ SELECT r.station FROM station_roles r WHERE r.role_name = current_user $$;
CREATE FUNCTION mirv_reads_all() RETURNS boolean
    LANGUAGE sql STABLE SET search_path = public, pg_temp
    AS $$ SELECT EXISTS (SELECT FROM pg_roles g WHERE g.rolname = 'mirv_reader'
                         AND pg_has_role(current_user, g.oid, 'USAGE')) $$;
REVOKE EXECUTE ON FUNCTION mirv_own_station(), mirv_reads_all() FROM PUBLIC;

ALTER POLICY reading ON station_history
    USING (station = (SELECT mirv_own_station()) OR (SELECT mirv_reads_all()));
ALTER POLICY adding ON station_history WITH CHECK (station = (SELECT mirv_own_station()));
ALTER POLICY reading ON station_conflicts
    USING (station = (SELECT mirv_own_station()) OR (SELECT mirv_reads_all()));
ALTER POLICY adding ON station_conflicts WITH CHECK (station = (SELECT mirv_own_station()));
ALTER POLICY reading ON station_linkstats
    USING (station = (SELECT mirv_own_station()) OR (SELECT mirv_reads_all()));
ALTER POLICY adding ON station_linkstats WITH CHECK (station = (SELECT mirv_own_station()));
ALTER POLICY reading ON station_uplink_progress
    USING (station = (SELECT mirv_own_station()) OR (SELECT mirv_reads_all()));
ALTER POLICY adding ON station_uplink_progress WITH CHECK (station = (SELECT mirv_own_station()));
ALTER POLICY moving ON station_uplink_progress USING (station = (SELECT mirv_own_station()))
    WITH CHECK (station = (SELECT mirv_own_station()));
ALTER POLICY reading ON stations
    USING (name = (SELECT mirv_own_station()) OR (SELECT mirv_reads_all()));
ALTER POLICY adding ON stations WITH CHECK (name = (SELECT mirv_own_station())
    AND identity ~ '^[0-9A-Fa-f]{32}$');
ALTER POLICY moving ON stations USING (name = (SELECT mirv_own_station()))
    WITH CHECK (name = (SELECT mirv_own_station()) AND identity ~ '^[0-9A-Fa-f]{32}$');

ALTER TABLE stations
    ADD COLUMN rows_set_aside bigint NOT NULL DEFAULT 0,
    ADD COLUMN conflicts_kept bigint NOT NULL DEFAULT 0,
    ADD CONSTRAINT counts_not_negative
        CHECK (rows_forwarded >= 0 AND rows_set_aside >= 0 AND conflicts_kept >= 0) NOT VALID;
UPDATE stations s SET conflicts_kept = (SELECT count(*) FROM station_conflicts c
                                        WHERE c.station = s.name);
ALTER TABLE station_uplink_progress
    ADD COLUMN mark_origin text CHECK (octet_length(mark_origin) <= 600),
    ADD CONSTRAINT marks_not_negative
        CHECK (last_local_id >= 0 AND last_linkstats_id >= 0) NOT VALID;

CREATE FUNCTION mirv_check_zone() RETURNS trigger
    LANGUAGE plpgsql SET search_path = public, pg_temp
AS $$
BEGIN
    IF NEW.zone IS NULL OR (TG_OP = 'UPDATE' AND NEW.zone IS NOT DISTINCT FROM OLD.zone) THEN
        RETURN NEW;
    END IF;
    -- A name of the tz database (no path of the server's files), which the server reads. Not
    -- pg_timezone_names: it reads every zone, too slow for many stations connecting at once.
    IF NEW.zone ~ '^[A-Za-z0-9_+-]{1,40}(/[A-Za-z0-9_+-]{1,40}){0,3}$' THEN
        BEGIN
            PERFORM now() AT TIME ZONE NEW.zone;
            RETURN NEW;
        EXCEPTION WHEN invalid_parameter_value THEN
            NULL;
        END;
    END IF;
    RAISE EXCEPTION 'zone % is no time zone this server knows', quote_literal(NEW.zone)
        USING ERRCODE = '22023';
END
$$;
CREATE TRIGGER zone_known BEFORE INSERT OR UPDATE OF zone ON stations
    FOR EACH ROW EXECUTE FUNCTION mirv_check_zone();

-- Runs as the owner so that it may count the station's rows and move conflicts_kept, which
-- the station may not write itself.
CREATE FUNCTION mirv_bound_conflict() RETURNS trigger
    LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp
AS $$
BEGIN
    IF EXISTS (SELECT FROM station_conflicts c WHERE c.station = NEW.station
               AND c.meter_id = NEW.meter_id AND c.create_time = NEW.create_time
               AND c.time_repeat = NEW.time_repeat
               AND md5(c.offered::text) = md5(NEW.offered::text)) THEN
        RETURN NULL; -- kept already
    END IF;
    IF octet_length(NEW.held::text) > 4096 OR octet_length(NEW.offered::text) > 4096 THEN
        RAISE WARNING 'station_conflicts keeps no reading longer than 4096 bytes; '
            'such readings of station % are not kept', quote_literal(NEW.station);
        RETURN NULL;
    END IF;
    IF (SELECT count(*) FROM (SELECT FROM station_conflicts c WHERE c.station = NEW.station
            AND c.meter_id = NEW.meter_id AND c.create_time = NEW.create_time
            AND c.time_repeat = NEW.time_repeat LIMIT 10) k) >= 10 THEN
        RAISE WARNING 'station_conflicts keeps 10 readings per meter and time; further ones '
            'of station % are not kept', quote_literal(NEW.station);
        RETURN NULL;
    END IF;
    UPDATE stations SET conflicts_kept = conflicts_kept + 1
        WHERE name = NEW.station AND conflicts_kept < 10000;
    IF NOT FOUND THEN
        RAISE WARNING 'station_conflicts holds 10000 readings of station %, as many as it keeps '
            'per station: further ones are not kept', quote_literal(NEW.station);
        RETURN NULL;
    END IF;
    RETURN NEW;
END
$$;
-- The tables a batch goes through on its way in (row-level security leaves COPY out), one of
-- each per transaction at most, made here for the caller: a station role may not make tables
-- of its own, each of which would hold a lock until its transaction ends, enough of them
-- filling the server's lock table.
CREATE FUNCTION mirv_batch_tables() RETURNS void
    LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp
AS $$
BEGIN
    IF to_regclass('pg_temp.uplink_batch') IS NULL THEN
        CREATE TEMP TABLE uplink_batch (station text, local_id bigint, meter_id integer,
            flow_rate numeric, forward_total numeric, reverse_total numeric,
            inlet_temperature numeric, outlet_temperature numeric, heat_power numeric,
            cold_power numeric, heat_total numeric, cold_total numeric, alarm_status text,
            create_time timestamp, time_repeat smallint, create_epoch bigint, source_key text)
            ON COMMIT DROP;
        EXECUTE format('GRANT SELECT, INSERT ON pg_temp.uplink_batch TO %I', session_user);
    END IF;
    IF to_regclass('pg_temp.uplink_linkstats_batch') IS NULL THEN
        CREATE TEMP TABLE uplink_linkstats_batch (station text, meter_id integer,
            hour timestamp, requests bigint, answers bigint, misses bigint, crc_wrong bigint,
            too_short bigint, too_long bigint, trailing_bytes bigint, wrong_function bigint,
            wrong_address bigint, response_mean_us bigint, response_max_us bigint)
            ON COMMIT DROP;
        EXECUTE format('GRANT SELECT, INSERT ON pg_temp.uplink_linkstats_batch TO %I',
                       session_user);
    END IF;
END
$$;
REVOKE EXECUTE ON FUNCTION mirv_check_zone(), mirv_bound_conflict(), mirv_batch_tables()
    FROM PUBLIC;
CREATE TRIGGER bounded BEFORE INSERT ON station_conflicts
    FOR EACH ROW EXECUTE FUNCTION mirv_bound_conflict();

CREATE OR REPLACE FUNCTION mirv_grant_rights() RETURNS void LANGUAGE plpgsql
    SET search_path = public, pg_temp
AS $$
BEGIN
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_station') THEN
        GRANT SELECT ON station_history_migrations, station_roles TO mirv_station;
        GRANT EXECUTE ON FUNCTION mirv_own_station(), mirv_reads_all(), mirv_batch_tables()
            TO mirv_station;
        GRANT SELECT, INSERT ON station_history, station_conflicts, station_linkstats
            TO mirv_station;
        GRANT SELECT, INSERT, UPDATE (last_local_id, last_row_hash, last_linkstats_id,
                                      last_linkstats_hash, mark_origin, updated_at)
            ON station_uplink_progress TO mirv_station;
        REVOKE INSERT, UPDATE ON stations FROM mirv_station;
        GRANT SELECT, INSERT (name, identity, zone),
            UPDATE (identity, zone, last_seen, rows_forwarded, rows_set_aside)
            ON stations TO mirv_station;
    END IF;
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_reader') THEN
        GRANT SELECT ON station_history, station_uplink_progress, stations, station_conflicts,
            station_linkstats, station_history_migrations, station_roles TO mirv_reader;
        GRANT EXECUTE ON FUNCTION mirv_own_station(), mirv_reads_all() TO mirv_reader;
    END IF;
END
$$;
SELECT mirv_grant_rights();
)sql";

// Version 5. station_events: one row per row of the station's event journal (Events), keyed by
// station and local ID, so an event is stored once however often it is sent. Its texts are
// bounded (the uplink cuts longer ones to fit); a station role adds only its own station's
// events and no received_at of its own, and changes or deletes none. station_uplink_progress
// gains the events' mark, moved in the transaction that stores them; mirv_batch_tables() makes
// the table they go through, and mirv_grant_rights() grants the new rights.
constexpr const char* kVersion5 = R"sql(
CREATE TABLE station_events (
    station     text        COLLATE "C" NOT NULL,
    local_id    bigint      NOT NULL CHECK (local_id > 0),
    local_time  timestamp   NOT NULL,
    utc_time    timestamptz,
    meter_id    integer     NOT NULL CHECK (meter_id >= 0),
    kind        text        NOT NULL CHECK (char_length(kind) <= 64),
    phase       text        NOT NULL CHECK (char_length(phase) <= 16),
    text        text        NOT NULL CHECK (char_length(text) <= 1000),
    detail      text        NOT NULL CHECK (char_length(detail) <= 4000),
    user_name   text        NOT NULL CHECK (char_length(user_name) <= 128),
    received_at timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (station, local_id)
);
ALTER TABLE station_uplink_progress
    ADD COLUMN last_event_id bigint NOT NULL DEFAULT 0 CHECK (last_event_id >= 0),
    ADD COLUMN last_event_hash bigint NOT NULL DEFAULT 0;
ALTER TABLE station_events ENABLE ROW LEVEL SECURITY;
CREATE POLICY reading ON station_events FOR SELECT
    USING (station = (SELECT mirv_own_station()) OR (SELECT mirv_reads_all()));
CREATE POLICY adding ON station_events FOR INSERT
    WITH CHECK (station = (SELECT mirv_own_station()));

CREATE OR REPLACE FUNCTION mirv_batch_tables() RETURNS void
    LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp
AS $$
BEGIN
    IF to_regclass('pg_temp.uplink_batch') IS NULL THEN
        CREATE TEMP TABLE uplink_batch (station text, local_id bigint, meter_id integer,
            flow_rate numeric, forward_total numeric, reverse_total numeric,
            inlet_temperature numeric, outlet_temperature numeric, heat_power numeric,
            cold_power numeric, heat_total numeric, cold_total numeric, alarm_status text,
            create_time timestamp, time_repeat smallint, create_epoch bigint, source_key text)
            ON COMMIT DROP;
        EXECUTE format('GRANT SELECT, INSERT ON pg_temp.uplink_batch TO %I', session_user);
    END IF;
    IF to_regclass('pg_temp.uplink_linkstats_batch') IS NULL THEN
        CREATE TEMP TABLE uplink_linkstats_batch (station text, meter_id integer,
            hour timestamp, requests bigint, answers bigint, misses bigint, crc_wrong bigint,
            too_short bigint, too_long bigint, trailing_bytes bigint, wrong_function bigint,
            wrong_address bigint, response_mean_us bigint, response_max_us bigint)
            ON COMMIT DROP;
        EXECUTE format('GRANT SELECT, INSERT ON pg_temp.uplink_linkstats_batch TO %I',
                       session_user);
    END IF;
    IF to_regclass('pg_temp.uplink_events_batch') IS NULL THEN
        CREATE TEMP TABLE uplink_events_batch (station text, local_id bigint,
            local_time timestamp, utc_time timestamptz, meter_id integer, kind text,
            phase text, text text, detail text, user_name text) ON COMMIT DROP;
        EXECUTE format('GRANT SELECT, INSERT ON pg_temp.uplink_events_batch TO %I',
                       session_user);
    END IF;
END
$$;
REVOKE EXECUTE ON FUNCTION mirv_batch_tables() FROM PUBLIC;

CREATE OR REPLACE FUNCTION mirv_grant_rights() RETURNS void LANGUAGE plpgsql
    SET search_path = public, pg_temp
AS $$
BEGIN
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_station') THEN
        GRANT SELECT ON station_history_migrations, station_roles TO mirv_station;
        GRANT EXECUTE ON FUNCTION mirv_own_station(), mirv_reads_all(), mirv_batch_tables()
            TO mirv_station;
        GRANT SELECT, INSERT ON station_history, station_conflicts, station_linkstats
            TO mirv_station;
        GRANT SELECT, INSERT (station, local_id, local_time, utc_time, meter_id, kind, phase,
                              text, detail, user_name)
            ON station_events TO mirv_station;
        GRANT SELECT, INSERT, UPDATE (last_local_id, last_row_hash, last_linkstats_id,
                                      last_linkstats_hash, last_event_id, last_event_hash,
                                      mark_origin, updated_at)
            ON station_uplink_progress TO mirv_station;
        REVOKE INSERT, UPDATE ON stations FROM mirv_station;
        GRANT SELECT, INSERT (name, identity, zone),
            UPDATE (identity, zone, last_seen, rows_forwarded, rows_set_aside)
            ON stations TO mirv_station;
    END IF;
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_reader') THEN
        GRANT SELECT ON station_history, station_uplink_progress, stations, station_conflicts,
            station_linkstats, station_events, station_history_migrations, station_roles
            TO mirv_reader;
        GRANT EXECUTE ON FUNCTION mirv_own_station(), mirv_reads_all() TO mirv_reader;
    END IF;
END
$$;
SELECT mirv_grant_rights();
)sql";

// Version 6. station_meters: the station's meters as it polls them, one row per address, with
// the profile the station reads it by and its name for the operator, so that the central
// history's meter numbers can be named. A station role adds and renames only its own meters
// (at most one per Modbus address, texts bounded; the uplink cuts longer ones), never deletes
// one: history under an address keeps its last name. updated is the server's time of the
// last change, which the station does not write. mirv_batch_table() makes only the one table
// a batch goes through.
constexpr const char* kVersion6 = R"sql(
CREATE TABLE station_meters (
    station text        COLLATE "C" NOT NULL,
    address integer     NOT NULL CHECK (address BETWEEN 1 AND 247),
    profile text        NOT NULL CHECK (char_length(profile) BETWEEN 1 AND 64),
    name    text        NOT NULL CHECK (char_length(name) <= 200),
    updated timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (station, address)
);
ALTER TABLE station_meters ENABLE ROW LEVEL SECURITY;
CREATE POLICY reading ON station_meters FOR SELECT
    USING (station = (SELECT mirv_own_station()) OR (SELECT mirv_reads_all()));
CREATE POLICY adding ON station_meters FOR INSERT
    WITH CHECK (station = (SELECT mirv_own_station()));
CREATE POLICY renaming ON station_meters FOR UPDATE
    USING (station = (SELECT mirv_own_station()))
    WITH CHECK (station = (SELECT mirv_own_station()));
CREATE FUNCTION mirv_meter_updated() RETURNS trigger
    LANGUAGE plpgsql SET search_path = public, pg_temp
AS $$
BEGIN
    NEW.updated := now();
    RETURN NEW;
END
$$;
REVOKE EXECUTE ON FUNCTION mirv_meter_updated() FROM PUBLIC;
CREATE TRIGGER stamped BEFORE INSERT OR UPDATE ON station_meters
    FOR EACH ROW EXECUTE FUNCTION mirv_meter_updated();

-- The table a batch goes through on its way in, as mirv_batch_tables() makes them, but only
-- the one of the rows the batch holds ('readings', 'linkstats' or 'events'): a batch makes and
-- drops one table, not three.
CREATE FUNCTION mirv_batch_table(holding text) RETURNS void
    LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp
AS $$
BEGIN
    IF holding = 'readings' THEN
        IF to_regclass('pg_temp.uplink_batch') IS NULL THEN
            CREATE TEMP TABLE uplink_batch (station text, local_id bigint, meter_id integer,
                flow_rate numeric, forward_total numeric, reverse_total numeric,
                inlet_temperature numeric, outlet_temperature numeric, heat_power numeric,
                cold_power numeric, heat_total numeric, cold_total numeric, alarm_status text,
                create_time timestamp, time_repeat smallint, create_epoch bigint,
                source_key text) ON COMMIT DROP;
            EXECUTE format('GRANT SELECT, INSERT ON pg_temp.uplink_batch TO %I', session_user);
        END IF;
    ELSIF holding = 'linkstats' THEN
        IF to_regclass('pg_temp.uplink_linkstats_batch') IS NULL THEN
            CREATE TEMP TABLE uplink_linkstats_batch (station text, meter_id integer,
                hour timestamp, requests bigint, answers bigint, misses bigint, crc_wrong bigint,
                too_short bigint, too_long bigint, trailing_bytes bigint, wrong_function bigint,
                wrong_address bigint, response_mean_us bigint, response_max_us bigint)
                ON COMMIT DROP;
            EXECUTE format('GRANT SELECT, INSERT ON pg_temp.uplink_linkstats_batch TO %I',
                           session_user);
        END IF;
    ELSIF holding = 'events' THEN
        IF to_regclass('pg_temp.uplink_events_batch') IS NULL THEN
            CREATE TEMP TABLE uplink_events_batch (station text, local_id bigint,
                local_time timestamp, utc_time timestamptz, meter_id integer, kind text,
                phase text, text text, detail text, user_name text) ON COMMIT DROP;
            EXECUTE format('GRANT SELECT, INSERT ON pg_temp.uplink_events_batch TO %I',
                           session_user);
        END IF;
    ELSE
        RAISE EXCEPTION 'no batch table holds %', quote_literal(holding) USING ERRCODE = '22023';
    END IF;
END
$$;
REVOKE EXECUTE ON FUNCTION mirv_batch_table(text) FROM PUBLIC;

CREATE OR REPLACE FUNCTION mirv_grant_rights() RETURNS void LANGUAGE plpgsql
    SET search_path = public, pg_temp
AS $$
BEGIN
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_station') THEN
        GRANT SELECT ON station_history_migrations, station_roles TO mirv_station;
        GRANT EXECUTE ON FUNCTION mirv_own_station(), mirv_reads_all(), mirv_batch_tables(),
            mirv_batch_table(text) TO mirv_station;
        GRANT SELECT, INSERT ON station_history, station_conflicts, station_linkstats
            TO mirv_station;
        GRANT SELECT, INSERT (station, local_id, local_time, utc_time, meter_id, kind, phase,
                              text, detail, user_name)
            ON station_events TO mirv_station;
        GRANT SELECT, INSERT (station, address, profile, name), UPDATE (profile, name)
            ON station_meters TO mirv_station;
        GRANT SELECT, INSERT, UPDATE (last_local_id, last_row_hash, last_linkstats_id,
                                      last_linkstats_hash, last_event_id, last_event_hash,
                                      mark_origin, updated_at)
            ON station_uplink_progress TO mirv_station;
        REVOKE INSERT, UPDATE ON stations FROM mirv_station;
        GRANT SELECT, INSERT (name, identity, zone),
            UPDATE (identity, zone, last_seen, rows_forwarded, rows_set_aside)
            ON stations TO mirv_station;
    END IF;
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_reader') THEN
        GRANT SELECT ON station_history, station_uplink_progress, stations, station_conflicts,
            station_linkstats, station_events, station_meters, station_history_migrations,
            station_roles TO mirv_reader;
        GRANT EXECUTE ON FUNCTION mirv_own_station(), mirv_reads_all() TO mirv_reader;
    END IF;
END
$$;
SELECT mirv_grant_rights();
)sql";

int appliedVersion(pg_conn* conn, std::string& error) {
    // Asked of the catalog, not by name: a name not found is remembered by the session until
    // its next lock of a table, and another uplink may make the table meanwhile.
    PgResult exists(conn, "SELECT EXISTS (SELECT FROM pg_class c JOIN pg_namespace n ON "
                          "n.oid = c.relnamespace WHERE c.relname = 'station_history_migrations' "
                          "AND n.nspname = ANY (current_schemas(false)))");
    if (!exists.ok()) {
        error = exists.error();
        return -1;
    }
    if (exists.value(0, 0) != "t")
        return 0;
    PgResult version(conn, "SELECT coalesce(max(version), 0) FROM station_history_migrations");
    if (!version.ok()) {
        error = version.error();
        if (version.sqlState() == "42501")
            error += ": this role may not read the schema's version; run central_roles.sql "
                     "and `mirv-uplink --migrate` as the schema's owner";
        return -1;
    }
    return std::stoi(version.value(0, 0));
}

// Why a step failed; when for want of rights, what to do about it.
std::string stepFailure(const PgResult& step, int applied, int newest) {
    if (step.sqlState() != "42501")
        return step.error();
    return "the server's schema is version " + std::to_string(applied) + ", this program needs " +
           std::to_string(newest) + ", and this role may not change it (" + step.error() +
           "): run `mirv-uplink --migrate` as the schema's owner";
}

// Nothing to do when the server's schema is the newest this program knows; a schema newer
// than that is a failure.
std::optional<std::string> newerFailure(int applied, int newest) {
    if (applied == newest)
        return std::nullopt;
    return "the server's schema is version " + std::to_string(applied) +
           ", newer than this program knows (" + std::to_string(newest) + ")";
}

std::optional<std::string> applyPending(pg_conn* conn, int applied) {
    // Every wait for a lock is bounded.
    PgResult bounded(conn, "SET LOCAL lock_timeout = '30s'");
    if (!bounded.ok())
        return bounded.error();
    // Another uplink may be upgrading the schema meanwhile. Station roles may not take the
    // lock: they are told who may upgrade. The version is read again under it.
    const int newest = centralMigrations().back().version;
    PgResult lock(
        conn, "SELECT pg_advisory_xact_lock(hashtextextended('station_history migrations', 0))");
    if (!lock.ok())
        return stepFailure(lock, applied, newest);
    std::string error;
    applied = appliedVersion(conn, error);
    if (applied < 0)
        return error;
    if (applied >= newest)
        return newerFailure(applied, newest);
    // Objects belong to the owner role of central_roles.sql where there is one and this login
    // may act as it; else to this login.
    PgResult owner(conn, "SELECT EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_owner' AND "
                         "pg_has_role(oid, 'MEMBER'))");
    if (!owner.ok())
        return owner.error();
    if (owner.value(0, 0) == "t") {
        PgResult role(conn, "SET LOCAL ROLE mirv_owner");
        if (!role.ok())
            return role.error();
    }
    if (applied == 0) {
        PgResult create(conn, "CREATE TABLE station_history_migrations ("
                              "version integer PRIMARY KEY, description text NOT NULL, "
                              "applied_at timestamptz NOT NULL DEFAULT now())");
        if (!create.ok())
            return stepFailure(create, applied, newest);
    }
    for (const CentralMigration& m : centralMigrations()) {
        if (m.version <= applied)
            continue;
        // A step may go through every row: the owner's upgrade waits longer than a batch.
        PgResult step(conn, m.sql, {}, std::chrono::minutes(30));
        if (!step.ok())
            return "schema version " + std::to_string(m.version) + ": " +
                   stepFailure(step, applied, newest);
        PgResult record(conn,
                        "INSERT INTO station_history_migrations (version, description) "
                        "VALUES ($1, $2)",
                        {std::to_string(m.version), m.description});
        if (!record.ok())
            return record.error();
    }
    return std::nullopt;
}

} // namespace

const std::vector<CentralMigration>& centralMigrations() {
    static const std::vector<CentralMigration> migrations{
        {1, "station_history and station_uplink_progress", kVersion1},
        {2, "stations, station_conflicts, UTC instants and a role per station", kVersion2},
        {3, "station_linkstats and its mark", kVersion3},
        {4, "station roles bounded to their own station's bookkeeping", kVersion4},
        {5, "station_events and its mark", kVersion5},
        {6, "station_meters, and one batch table per batch", kVersion6},
    };
    return migrations;
}

std::optional<std::string> migrateCentralSchema(pg_conn* conn) {
    // A schema that is current needs no lock.
    std::string why;
    const int applied = appliedVersion(conn, why);
    if (applied < 0)
        return why;
    const int newest = centralMigrations().back().version;
    if (applied >= newest)
        return newerFailure(applied, newest);
    PgResult begin(conn, "BEGIN");
    if (!begin.ok())
        return begin.error();
    auto error = applyPending(conn, applied);
    PgResult end(conn, error ? "ROLLBACK" : "COMMIT");
    if (!error && !end.ok())
        error = end.error();
    return error;
}

} // namespace mirv
