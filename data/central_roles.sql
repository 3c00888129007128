-- The roles of the central history, made once per database by its administrator (a superuser,
-- or a role with CREATEROLE that owns the database):
--
--     psql -d plant -f central_roles.sql
--
-- mirv_owner   owns the tables; `mirv-uplink --migrate`, run by a login that is a member of it
--              (or by a superuser), makes and upgrades them.
-- mirv_station the group of the stations' login roles, each made by mirv_add_station() and
--              confined by row-level security to the rows of its own station: it may add rows
--              and move its own mark, never change or delete a row, read another station's or
--              drop anything.
-- mirv_reader  reads every station's rows, for billing and dashboards; grant it to a login.
--
-- Running it again is harmless; run it before `mirv-uplink --migrate`. Tables that an earlier
-- uplink made under a role of its own are handed to mirv_owner.

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_owner') THEN
        CREATE ROLE mirv_owner NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_station') THEN
        CREATE ROLE mirv_station NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'mirv_reader') THEN
        CREATE ROLE mirv_reader NOLOGIN;
    END IF;
    EXECUTE format('REVOKE ALL ON DATABASE %I FROM PUBLIC', current_database());
    EXECUTE format('GRANT CONNECT, TEMPORARY ON DATABASE %I TO mirv_owner, mirv_station',
                   current_database());
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO mirv_reader', current_database());
END
$$;

REVOKE CREATE ON SCHEMA public FROM PUBLIC;
GRANT USAGE, CREATE ON SCHEMA public TO mirv_owner;
GRANT USAGE ON SCHEMA public TO mirv_station, mirv_reader;

-- What an older uplink made under its own login goes to the owner, with the rights the roles
-- need on it.
DO $$
DECLARE
    t text;
BEGIN
    FOREACH t IN ARRAY ARRAY['station_history', 'station_uplink_progress',
                             'station_history_migrations', 'stations', 'station_conflicts',
                             'station_roles', 'station_linkstats'] LOOP
        IF to_regclass('public.' || t) IS NOT NULL THEN
            EXECUTE format('ALTER TABLE public.%I OWNER TO mirv_owner', t);
        END IF;
    END LOOP;
    IF to_regclass('public.station_history_migrations') IS NOT NULL THEN
        -- So that a station's uplink can tell that the schema is behind, and say so.
        GRANT SELECT ON public.station_history_migrations TO mirv_station, mirv_reader;
    END IF;
    IF to_regprocedure('public.mirv_grant_rights()') IS NOT NULL THEN
        ALTER FUNCTION public.mirv_station_of(name) OWNER TO mirv_owner;
        ALTER FUNCTION public.mirv_reads_all(name) OWNER TO mirv_owner;
        ALTER FUNCTION public.mirv_grant_rights() OWNER TO mirv_owner;
        PERFORM public.mirv_grant_rights();
    END IF;
END
$$;

-- A login role for one station, e.g. SELECT mirv_add_station('line-2', 'station_line_2');
-- then give it a password: ALTER ROLE station_line_2 PASSWORD '...'.
CREATE OR REPLACE FUNCTION public.mirv_add_station(station text, login name) RETURNS void
    LANGUAGE plpgsql SET search_path = public, pg_temp
AS $$
BEGIN
    IF to_regclass('public.station_roles') IS NULL THEN
        RAISE EXCEPTION 'no central schema yet: run mirv-uplink --migrate as the owner first';
    END IF;
    EXECUTE format('CREATE ROLE %I LOGIN IN ROLE mirv_station', login);
    INSERT INTO station_roles (role_name, station) VALUES (login, station);
END
$$;
REVOKE ALL ON FUNCTION public.mirv_add_station(text, name) FROM PUBLIC;
