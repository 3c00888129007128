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
--              drop anything. Each has a connection limit (4 unless said otherwise), and none
--              may take advisory locks or make tables, not even temporary ones, so that no
--              station can crowd out another or the server.
-- mirv_reader  reads every station's rows, for billing and dashboards; grant it to a login.
--
-- Run it as a superuser: only a superuser may keep the advisory lock functions from the
-- station roles (the script warns when it cannot). Running it again is harmless; run it before `mirv-uplink --migrate`. Tables that an earlier
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
    -- A station's batches go through tables the owner makes for it (mirv_batch_tables()).
    EXECUTE format('GRANT CONNECT, TEMPORARY ON DATABASE %I TO mirv_owner', current_database());
    EXECUTE format('REVOKE TEMPORARY ON DATABASE %I FROM mirv_station', current_database());
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO mirv_station, mirv_reader',
                   current_database());
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
                             'station_roles', 'station_linkstats', 'station_events',
                             'station_meters'] LOOP
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
        IF to_regprocedure('public.mirv_own_station()') IS NOT NULL THEN
            ALTER FUNCTION public.mirv_own_station() OWNER TO mirv_owner;
            ALTER FUNCTION public.mirv_reads_all() OWNER TO mirv_owner;
            ALTER FUNCTION public.mirv_check_zone() OWNER TO mirv_owner;
            ALTER FUNCTION public.mirv_bound_conflict() OWNER TO mirv_owner;
            ALTER FUNCTION public.mirv_batch_tables() OWNER TO mirv_owner;
        END IF;
        IF to_regprocedure('public.mirv_meter_updated()') IS NOT NULL THEN
            ALTER FUNCTION public.mirv_meter_updated() OWNER TO mirv_owner;
            ALTER FUNCTION public.mirv_batch_table(text) OWNER TO mirv_owner;
        END IF;
        PERFORM public.mirv_grant_rights();
    END IF;
END
$$;

-- Advisory locks are shared by the whole server: a station's login could take the lock another
-- uplink or an upgrade waits for, or fill the server's lock table until no one can connect.
-- Only the owner and the readers may take them in this database.
DO $$
DECLARE
    f regprocedure;
BEGIN
    IF NOT (SELECT rolsuper FROM pg_roles WHERE rolname = current_user) THEN
        RAISE WARNING 'not run as a superuser: the station roles may still take advisory locks';
        RETURN;
    END IF;
    FOR f IN SELECT p.oid::regprocedure FROM pg_proc p
             WHERE p.pronamespace = 'pg_catalog'::regnamespace
               AND p.proname ~ '^pg_(try_)?advisory_(xact_)?lock(_shared)?$' LOOP
        EXECUTE format('REVOKE EXECUTE ON FUNCTION %s FROM PUBLIC', f);
        EXECUTE format('GRANT EXECUTE ON FUNCTION %s TO mirv_owner, mirv_reader', f);
    END LOOP;
END
$$;

-- Station roles made before there was a limit get the default one.
DO $$
DECLARE
    r name;
BEGIN
    FOR r IN SELECT m.rolname FROM pg_roles m JOIN pg_auth_members a ON a.member = m.oid
             JOIN pg_roles g ON g.oid = a.roleid
             WHERE g.rolname = 'mirv_station' AND m.rolconnlimit = -1 AND NOT m.rolsuper LOOP
        EXECUTE format('ALTER ROLE %I CONNECTION LIMIT 4', r);
    END LOOP;
END
$$;

-- A login role for one station, e.g. SELECT mirv_add_station('line-2', 'station_line_2');
-- then give it a password: ALTER ROLE station_line_2 PASSWORD '...'. It may hold `connections`
-- sessions at once (the uplink needs one; the rest are for trying things by hand); change it
-- later with ALTER ROLE station_line_2 CONNECTION LIMIT 6.
DO $$
BEGIN
    IF to_regprocedure('public.mirv_add_station(text, name)') IS NOT NULL THEN
        DROP FUNCTION public.mirv_add_station(text, name);
    END IF;
END
$$;
CREATE OR REPLACE FUNCTION public.mirv_add_station(station text, login name,
                                                   connections integer DEFAULT 4) RETURNS void
    LANGUAGE plpgsql SET search_path = public, pg_temp
AS $$
BEGIN
    IF to_regclass('public.station_roles') IS NULL THEN
        RAISE EXCEPTION 'no central schema yet: run mirv-uplink --migrate as the owner first';
    END IF;
    IF connections IS NULL OR connections < 1 THEN
        RAISE EXCEPTION 'a station role needs at least 1 connection';
    END IF;
    EXECUTE format('CREATE ROLE %I LOGIN CONNECTION LIMIT %s IN ROLE mirv_station', login,
                   connections);
    INSERT INTO station_roles (role_name, station) VALUES (login, station);
END
$$;
REVOKE ALL ON FUNCTION public.mirv_add_station(text, name, integer) FROM PUBLIC;
