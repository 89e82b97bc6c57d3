#include "centre/Schema.h"

#include <iterator>
#include <string>

namespace kv::centre {

namespace {

// Taken by every station before it looks at the schema: "korvalen" in ASCII.
constexpr const char* kMigrationLock = "7741776385064461678";

struct Step {
    int version;
    const char* sql;
};

// Append only: a step once released is never edited, a change is a new step.
constexpr Step kSteps[] = {
    {1, R"sql(
CREATE TABLE stations (
    name text PRIMARY KEY,
    role text NOT NULL CHECK (role IN ('receiver', 'desk')),
    host text NOT NULL DEFAULT '',
    started_at timestamptz NOT NULL DEFAULT now(),
    heartbeat timestamptz NOT NULL DEFAULT now()
);

CREATE TABLE devices (
    id bigserial PRIMARY KEY,
    short_name text NOT NULL UNIQUE,
    tel text NOT NULL DEFAULT '',
    name text NOT NULL DEFAULT '',
    address text NOT NULL DEFAULT '',
    description text NOT NULL DEFAULT '',
    device_description text NOT NULL DEFAULT '',
    dial_time text NOT NULL DEFAULT '',
    dial_enable boolean NOT NULL DEFAULT false,
    drosvel boolean NOT NULL DEFAULT false,
    receiver text REFERENCES stations (name) ON UPDATE CASCADE ON DELETE SET NULL,
    changed_at timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX devices_tel ON devices (tel);

CREATE TABLE operators (
    name text PRIMARY KEY,
    password_hash text NOT NULL,
    role text NOT NULL CHECK (role IN ('admin', 'operator', 'viewer')),
    changed_at timestamptz NOT NULL DEFAULT now()
);

CREATE TABLE events (
    id bigserial PRIMARY KEY,
    station text NOT NULL,
    seq bigint NOT NULL,
    journal text NOT NULL CHECK (journal IN ('main', 'ring')),
    event_time timestamptz NOT NULL,
    status text NOT NULL DEFAULT '',
    tel text NOT NULL DEFAULT '',
    event text NOT NULL DEFAULT '',
    short_name text NOT NULL DEFAULT '',
    received_at timestamptz NOT NULL DEFAULT now(),
    UNIQUE (station, seq, journal)
);
CREATE INDEX events_time ON events (event_time);
CREATE INDEX events_tel ON events (tel, event_time);

CREATE TABLE alarms (
    id bigserial PRIMARY KEY,
    station text NOT NULL,
    seq bigint NOT NULL,
    short_name text NOT NULL DEFAULT '',
    kind text NOT NULL,
    opened_at timestamptz NOT NULL,
    state text NOT NULL DEFAULT 'open' CHECK (state IN ('open', 'taken', 'closed')),
    taken_by text,
    lease_until timestamptz,
    closed_by text,
    closed_at timestamptz,
    result text,
    comment text,
    escalated_at timestamptz,
    UNIQUE (station, seq)
);
CREATE INDEX alarms_waiting ON alarms (opened_at) WHERE state <> 'closed';

-- One notice per statement and journal, not per row: a catch-up inserts
-- hundreds at once, and a desk only needs to know there is more to read.
CREATE FUNCTION korvalen_events_notify() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
    r record;
BEGIN
    FOR r IN SELECT station, journal, max(seq) AS seq FROM new_rows GROUP BY station, journal LOOP
        PERFORM pg_notify('korvalen_events',
                          json_build_object('station', r.station, 'journal', r.journal, 'seq', r.seq)::text);
    END LOOP;
    RETURN NULL;
END
$$;
CREATE TRIGGER events_notify AFTER INSERT ON events REFERENCING NEW TABLE AS new_rows
    FOR EACH STATEMENT EXECUTE FUNCTION korvalen_events_notify();

CREATE FUNCTION korvalen_alarms_notify() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    PERFORM pg_notify('korvalen_alarms', NEW.id::text);
    RETURN NULL;
END
$$;
CREATE TRIGGER alarms_notify AFTER INSERT OR UPDATE ON alarms
    FOR EACH ROW EXECUTE FUNCTION korvalen_alarms_notify();
)sql"},
    {2, R"sql(
-- Rows a desk writes itself (the handling of an alarm), numbered per desk.
ALTER TABLE events DROP CONSTRAINT events_journal_check;
ALTER TABLE events ADD CONSTRAINT events_journal_check CHECK (journal IN ('main', 'ring', 'desk'));
CREATE TABLE desk_seq (
    station text PRIMARY KEY,
    seq bigint NOT NULL
);

-- An alarm is one row of a journal: main and ring rows share their numbers,
-- so the journal is part of the key.
ALTER TABLE alarms ADD COLUMN journal text NOT NULL DEFAULT 'main' CHECK (journal IN ('main', 'ring'));
ALTER TABLE alarms ADD COLUMN tel text NOT NULL DEFAULT '';
ALTER TABLE alarms ADD COLUMN event text NOT NULL DEFAULT '';
ALTER TABLE alarms DROP CONSTRAINT alarms_station_seq_key;
ALTER TABLE alarms ADD CONSTRAINT alarms_station_journal_seq_key UNIQUE (station, journal, seq);
-- A number's open alarms: a stranger's or a failed device's next row adds none.
CREATE INDEX alarms_open_tel ON alarms (tel, kind) WHERE state <> 'closed';

-- The receiver that sends escalations is one whose modem 1 is up.
ALTER TABLE stations ADD COLUMN modem1_up boolean NOT NULL DEFAULT false;

-- The duty manager's desks read everything and change nothing (the rights
-- are granted at each start). A managed server may not let the station
-- create roles: the centre works without it.
DO $$
BEGIN
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'korvalen_viewer') THEN
        RETURN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = current_user AND (rolsuper OR rolcreaterole)) THEN
        RAISE NOTICE 'korvalen_viewer not created: % may not create roles', current_user;
        RETURN;
    END IF;
    CREATE ROLE korvalen_viewer NOLOGIN;
EXCEPTION WHEN duplicate_object OR unique_violation THEN
    NULL; -- another database's migration made it meanwhile
END
$$;
)sql"},
    {3, R"sql(
-- The register as a station's files hold it: the device list's name and the
-- order the board lays the tiles in.
ALTER TABLE devices ADD COLUMN list_name text NOT NULL DEFAULT '';
ALTER TABLE devices ADD COLUMN position integer NOT NULL DEFAULT 0;

-- Which parts of the register the database holds. Once a part has its row
-- the database's copy wins over a station's files, also when it is empty.
CREATE TABLE register_state (
    kind text PRIMARY KEY CHECK (kind IN ('devices', 'operators')),
    changed_by text NOT NULL DEFAULT '',
    changed_at timestamptz NOT NULL DEFAULT now()
);

-- Every station reads the register again when told; one notice per
-- statement, as a save rewrites hundreds of rows at once.
CREATE FUNCTION korvalen_register_notify() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    PERFORM pg_notify('korvalen_register', TG_TABLE_NAME);
    RETURN NULL;
END
$$;
CREATE TRIGGER devices_register_notify AFTER INSERT OR UPDATE OR DELETE ON devices
    FOR EACH STATEMENT EXECUTE FUNCTION korvalen_register_notify();
CREATE TRIGGER operators_register_notify AFTER INSERT OR UPDATE OR DELETE ON operators
    FOR EACH STATEMENT EXECUTE FUNCTION korvalen_register_notify();
CREATE TRIGGER register_state_notify AFTER INSERT OR UPDATE OR DELETE ON register_state
    FOR EACH STATEMENT EXECUTE FUNCTION korvalen_register_notify();
)sql"},
    {4, R"sql(
-- The object cards: what to do and whom to call, by the device's number.
ALTER TABLE register_state DROP CONSTRAINT register_state_kind_check;
ALTER TABLE register_state ADD CONSTRAINT register_state_kind_check
    CHECK (kind IN ('devices', 'operators', 'objects'));
CREATE TABLE object_cards (
    tel text PRIMARY KEY,
    instructions text NOT NULL DEFAULT '',
    changed_at timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE object_contacts (
    tel text NOT NULL REFERENCES object_cards (tel) ON DELETE CASCADE,
    position integer NOT NULL,
    name text NOT NULL DEFAULT '',
    role text NOT NULL DEFAULT '',
    phone text NOT NULL DEFAULT '',
    note text NOT NULL DEFAULT '',
    PRIMARY KEY (tel, position)
);
CREATE TRIGGER object_cards_register_notify AFTER INSERT OR UPDATE OR DELETE ON object_cards
    FOR EACH STATEMENT EXECUTE FUNCTION korvalen_register_notify();
CREATE TRIGGER object_contacts_register_notify AFTER INSERT OR UPDATE OR DELETE ON object_contacts
    FOR EACH STATEMENT EXECUTE FUNCTION korvalen_register_notify();
)sql"},
    {5, R"sql(
-- A desk journals its handling of a centre alarm in its own main journal too:
-- the number that copy has there, set when the desk forwards it, so that it
-- is not sent again as a row of its own. Rows written before are nobody's copy.
ALTER TABLE events ADD COLUMN main_seq bigint;
UPDATE events SET main_seq = 0 WHERE journal = 'desk';
CREATE INDEX events_desk_copies ON events (station, main_seq) WHERE journal = 'desk';
)sql"},
};

// At each start, not in a step: the viewers' role may come later, made by
// an administrator, and a table of a later step needs the right too.
constexpr const char* kViewerRights = R"sql(
DO $$
BEGIN
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'korvalen_viewer') AND EXISTS (
        SELECT FROM pg_tables WHERE schemaname = current_schema()
            AND NOT has_table_privilege('korvalen_viewer', format('%I.%I', schemaname, tablename), 'SELECT')) THEN
        EXECUTE format('GRANT SELECT ON ALL TABLES IN SCHEMA %I TO korvalen_viewer', current_schema());
        EXECUTE format('ALTER DEFAULT PRIVILEGES IN SCHEMA %I GRANT SELECT ON TABLES TO korvalen_viewer',
                       current_schema());
    END IF;
EXCEPTION WHEN insufficient_privilege THEN
    RAISE NOTICE 'korvalen_viewer not granted: %', SQLERRM;
END
$$;
)sql";

} // namespace

int LatestSchemaVersion() { return std::rbegin(kSteps)->version; }

int Migrate(pg::Connection& db)
{
    // Session-wide, so that it holds across the steps' own transactions; a
    // connection lost meanwhile releases it with the session.
    db.Exec("SELECT pg_advisory_lock($1::bigint)", {kMigrationLock});
    struct Unlock {
        pg::Connection& db;
        ~Unlock()
        {
            try {
                db.Exec("SELECT pg_advisory_unlock($1::bigint)", {kMigrationLock});
            } catch (const pg::Error&) {
            }
        }
    } unlock{db};

    db.Exec("CREATE TABLE IF NOT EXISTS schema_migrations ("
            " version integer PRIMARY KEY,"
            " applied_at timestamptz NOT NULL DEFAULT now())");
    const long long current = db.Exec("SELECT coalesce(max(version), 0) FROM schema_migrations").Integer(0, 0);
    int applied = 0;
    for (const Step& step : kSteps) {
        if (step.version <= current)
            continue;
        db.Transaction([&] {
            db.ExecScript(step.sql);
            db.Exec("INSERT INTO schema_migrations (version) VALUES ($1)", {std::to_string(step.version)});
        });
        ++applied;
    }
    db.ExecScript(kViewerRights);
    return applied;
}

} // namespace kv::centre
