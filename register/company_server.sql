-- The company register on a PostgreSQL server (13 or newer): its tables, the
-- functions that are the only way in, and the three roles. trellikon-cli runs
-- it at `server init` and `server upgrade`; an administrator may run it with
--   psql "postgresql://admin@host/firma?sslmode=verify-full" -v ON_ERROR_STOP=1 -f company_server.sql
-- Running it again changes nothing but the functions.
--
-- Roles: trellikon_technik reads everything and adds changes, trellikon_biuro
-- only reads, trellikon_admin adds logins and erases a client's data. No role
-- has a right on a table: every way in is a function below, run with the
-- rights of the one who made the schema.

SET client_min_messages = warning;
BEGIN;
SELECT pg_advisory_xact_lock(74110);

DO $roles$
BEGIN
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'trellikon_technik') THEN
        CREATE ROLE trellikon_technik NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'trellikon_biuro') THEN
        CREATE ROLE trellikon_biuro NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'trellikon_admin') THEN
        CREATE ROLE trellikon_admin NOLOGIN;
    END IF;
END
$roles$;

CREATE SCHEMA IF NOT EXISTS trellikon;
REVOKE ALL ON SCHEMA trellikon FROM PUBLIC;
GRANT USAGE ON SCHEMA trellikon TO trellikon_technik, trellikon_biuro, trellikon_admin;

CREATE TABLE IF NOT EXISTS trellikon.meta (name text PRIMARY KEY, value text NOT NULL);
INSERT INTO trellikon.meta VALUES ('schema', '1'), ('oldest_client', '1')
    ON CONFLICT (name) DO NOTHING;

-- One sequence orders changes and erasures: a laptop pulls what is after the
-- last number it has seen.
CREATE SEQUENCE IF NOT EXISTS trellikon.change_seq;

CREATE TABLE IF NOT EXISTS trellikon.installations (
    uuid uuid PRIMARY KEY,
    name text NOT NULL DEFAULT '',
    notes text NOT NULL DEFAULT '',
    device_phone text NOT NULL DEFAULT '',
    deleted boolean NOT NULL DEFAULT false,
    created_at text NOT NULL DEFAULT '');

CREATE TABLE IF NOT EXISTS trellikon.versions (
    uuid uuid PRIMARY KEY,
    installation uuid,
    recorded_at text NOT NULL,
    kind text NOT NULL,
    port text NOT NULL,
    program_version text NOT NULL,
    summary text NOT NULL,
    sha256 text NOT NULL,
    content bytea NOT NULL,
    pc_id text NOT NULL,
    based_on text,
    login text NOT NULL);
CREATE INDEX IF NOT EXISTS versions_by_installation
    ON trellikon.versions (installation, recorded_at);

-- Every phone number of every version, reversed: "ends with" is a range.
CREATE TABLE IF NOT EXISTS trellikon.version_numbers (
    version uuid NOT NULL,
    role text NOT NULL,
    position integer NOT NULL,
    number text NOT NULL,
    reversed text NOT NULL);
CREATE INDEX IF NOT EXISTS version_numbers_by_reversed
    ON trellikon.version_numbers ((reversed COLLATE "C"));
CREATE INDEX IF NOT EXISTS version_numbers_by_version ON trellikon.version_numbers (version);

-- Which change set a field's present value, by the hybrid logical clock.
CREATE TABLE IF NOT EXISTS trellikon.fields (
    entity uuid NOT NULL,
    field text NOT NULL,
    value text NOT NULL,
    hlc text NOT NULL,
    PRIMARY KEY (entity, field));

-- The changes as the laptops made them, in the order they were committed.
CREATE TABLE IF NOT EXISTS trellikon.changes (
    seq bigint PRIMARY KEY,
    change_id uuid NOT NULL UNIQUE,
    kind text NOT NULL,
    entity uuid NOT NULL,
    installation uuid,
    field text,
    value text,
    hlc text NOT NULL,
    prev_hlc text,
    pc_id text NOT NULL,
    login text NOT NULL,
    at timestamptz NOT NULL DEFAULT now());
CREATE INDEX IF NOT EXISTS changes_by_installation ON trellikon.changes (installation);
CREATE INDEX IF NOT EXISTS changes_by_entity ON trellikon.changes (entity);

-- What an erasure leaves: its id, when and who.
CREATE TABLE IF NOT EXISTS trellikon.erasures (
    seq bigint PRIMARY KEY,
    erasure_id uuid NOT NULL UNIQUE,
    installation uuid NOT NULL,
    at timestamptz NOT NULL DEFAULT now(),
    login text NOT NULL);

-- Who changed what, when and from which computer; never updated or deleted.
CREATE TABLE IF NOT EXISTS trellikon.audit (
    id bigserial PRIMARY KEY,
    at timestamptz NOT NULL DEFAULT now(),
    login text NOT NULL,
    pc_id text NOT NULL,
    action text NOT NULL,
    change_id uuid,
    entity uuid);

CREATE OR REPLACE FUNCTION trellikon.audit_frozen() RETURNS trigger
LANGUAGE plpgsql AS $$
BEGIN
    RAISE EXCEPTION 'dziennik zmian rejestru firmy nie może być zmieniany' USING ERRCODE = '42501';
END
$$;
DROP TRIGGER IF EXISTS audit_frozen ON trellikon.audit;
CREATE TRIGGER audit_frozen BEFORE UPDATE OR DELETE ON trellikon.audit
    FOR EACH ROW EXECUTE FUNCTION trellikon.audit_frozen();
DROP TRIGGER IF EXISTS audit_frozen_truncate ON trellikon.audit;
CREATE TRIGGER audit_frozen_truncate BEFORE TRUNCATE ON trellikon.audit
    FOR EACH STATEMENT EXECUTE FUNCTION trellikon.audit_frozen();

REVOKE ALL ON ALL TABLES IN SCHEMA trellikon FROM PUBLIC, trellikon_technik, trellikon_biuro,
    trellikon_admin;
REVOKE ALL ON ALL SEQUENCES IN SCHEMA trellikon FROM PUBLIC;

-- The schema's version and the oldest program that may still synchronise.
CREATE OR REPLACE FUNCTION trellikon.server_info(OUT schema integer, OUT oldest_client integer,
                                                 OUT login text, OUT role text)
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = trellikon, pg_temp AS $$
    SELECT (SELECT value::integer FROM trellikon.meta WHERE name = 'schema'),
           (SELECT value::integer FROM trellikon.meta WHERE name = 'oldest_client'),
           session_user::text,
           CASE WHEN pg_has_role(session_user, 'trellikon_admin', 'MEMBER') THEN 'admin'
                WHEN pg_has_role(session_user, 'trellikon_technik', 'MEMBER') THEN 'technik'
                WHEN pg_has_role(session_user, 'trellikon_biuro', 'MEMBER') THEN 'biuro'
                ELSE '' END
$$;

-- A laptop's changes, all in one transaction; a change already taken (the
-- same id, sent again after a cut connection) is skipped, and so is one for
-- an erased client. The advisory lock makes the sequence's order the order of
-- commits, so a pull never passes a change committed later.
CREATE OR REPLACE FUNCTION trellikon.sync_push(pc text, batch jsonb) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER SET search_path = trellikon, pg_temp AS $$
DECLARE
    c record;
    taken integer := 0;
    present text;
    owner uuid;
BEGIN
    PERFORM pg_advisory_xact_lock(74111);
    FOR c IN SELECT * FROM jsonb_to_recordset(batch) AS x(
            id uuid, kind text, entity uuid, installation uuid, field text, value text,
            hlc text, prev text, recorded_at text, vkind text, port text,
            program_version text, summary text, sha256 text, content text, based_on text,
            numbers jsonb)
    LOOP
        IF c.id IS NULL OR c.entity IS NULL OR c.hlc IS NULL THEN
            RAISE EXCEPTION 'niepełna zmiana' USING ERRCODE = 'TK001';
        END IF;
        CONTINUE WHEN EXISTS (SELECT 1 FROM changes WHERE change_id = c.id);
        owner := c.installation;
        IF c.kind = 'installation' THEN
            owner := c.entity;
            CONTINUE WHEN EXISTS (SELECT 1 FROM erasures WHERE installation = owner);
            IF c.field NOT IN ('name', 'notes', 'device_phone', 'deleted', 'created_at') THEN
                RAISE EXCEPTION 'nieznane pole instalacji: %', c.field USING ERRCODE = 'TK001';
            END IF;
            INSERT INTO installations (uuid) VALUES (c.entity) ON CONFLICT DO NOTHING;
            SELECT hlc INTO present FROM fields WHERE entity = c.entity AND field = c.field;
            IF present IS NULL OR c.hlc > present THEN
                INSERT INTO fields VALUES (c.entity, c.field, coalesce(c.value, ''), c.hlc)
                    ON CONFLICT (entity, field) DO UPDATE SET value = excluded.value, hlc = excluded.hlc;
                UPDATE installations SET
                    name = CASE WHEN c.field = 'name' THEN c.value ELSE name END,
                    notes = CASE WHEN c.field = 'notes' THEN c.value ELSE notes END,
                    device_phone = CASE WHEN c.field = 'device_phone' THEN c.value ELSE device_phone END,
                    deleted = CASE WHEN c.field = 'deleted' THEN c.value = '1' ELSE deleted END,
                    created_at = CASE WHEN c.field = 'created_at' THEN c.value ELSE created_at END
                WHERE uuid = c.entity;
            END IF;
        ELSIF c.kind = 'version' THEN
            CONTINUE WHEN owner IS NOT NULL AND EXISTS (SELECT 1 FROM erasures WHERE installation = owner);
            IF c.content IS NULL OR length(c.content) <> 8192 THEN
                RAISE EXCEPTION 'wersja bez pełnej treści' USING ERRCODE = 'TK001';
            END IF;
            INSERT INTO versions VALUES (c.entity, owner, c.recorded_at, c.vkind, c.port,
                c.program_version, c.summary, c.sha256, decode(c.content, 'hex'), pc,
                c.based_on, session_user)
                ON CONFLICT (uuid) DO NOTHING;
            IF FOUND THEN
                INSERT INTO version_numbers
                    SELECT c.entity, n->>'role', (n->>'position')::integer, n->>'number',
                           reverse(n->>'number')
                    FROM jsonb_array_elements(coalesce(c.numbers, '[]'::jsonb)) AS n;
                -- Two writes made from one version on two computers: both marked.
                IF c.based_on IS NOT NULL AND
                   (SELECT count(*) FROM versions WHERE based_on = c.based_on) > 1 THEN
                    UPDATE versions
                    SET summary = 'równoległy zapis z tej samej wersji; ' || summary
                    WHERE based_on = c.based_on
                        AND summary NOT LIKE 'równoległy zapis z tej samej wersji; %';
                END IF;
            END IF;
        ELSIF c.kind = 'version_field' THEN
            SELECT installation INTO owner FROM versions WHERE uuid = c.entity;
            CONTINUE WHEN NOT FOUND;
            IF c.field = 'installation' THEN
                CONTINUE WHEN EXISTS (SELECT 1 FROM erasures WHERE installation::text = c.value);
                owner := nullif(c.value, '')::uuid;
            ELSIF c.field NOT IN ('kind', 'summary') THEN
                RAISE EXCEPTION 'nieznane pole wersji: %', c.field USING ERRCODE = 'TK001';
            END IF;
            SELECT hlc INTO present FROM fields WHERE entity = c.entity AND field = c.field;
            IF present IS NULL OR c.hlc > present THEN
                INSERT INTO fields VALUES (c.entity, c.field, coalesce(c.value, ''), c.hlc)
                    ON CONFLICT (entity, field) DO UPDATE SET value = excluded.value, hlc = excluded.hlc;
                UPDATE versions SET
                    installation = CASE WHEN c.field = 'installation' THEN nullif(c.value, '')::uuid
                                        ELSE installation END,
                    kind = CASE WHEN c.field = 'kind' THEN c.value ELSE kind END,
                    summary = CASE WHEN c.field = 'summary' THEN c.value ELSE summary END
                WHERE uuid = c.entity;
            END IF;
        ELSE
            RAISE EXCEPTION 'nieznany rodzaj zmiany: %', c.kind USING ERRCODE = 'TK001';
        END IF;
        INSERT INTO changes VALUES (nextval('change_seq'), c.id, c.kind, c.entity, owner, c.field,
            c.value, c.hlc, c.prev, pc, session_user, now());
        INSERT INTO audit (login, pc_id, action, change_id, entity)
            VALUES (session_user, pc, c.kind || coalesce(' ' || c.field, ''), c.id, c.entity);
        taken := taken + 1;
    END LOOP;
    RETURN taken;
END
$$;

-- The changes and erasures after `after`, oldest first, at most `page`; the
-- versions' content is joined to the page only, never to all that follow.
CREATE OR REPLACE FUNCTION trellikon.sync_pull(after bigint, page integer)
RETURNS TABLE (seq bigint, kind text, change_id uuid, entity uuid, installation uuid,
               field text, value text, hlc text, prev_hlc text, pc_id text, login text,
               at text, recorded_at text, vkind text, port text, program_version text,
               summary text, sha256 text, content text, based_on text)
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = trellikon, pg_temp AS $$
    WITH chosen AS (
        SELECT * FROM (
            (SELECT c.seq, c.kind, c.change_id, c.entity, c.installation, c.field, c.value,
                    c.hlc, c.prev_hlc, c.pc_id, c.login, c.at
             FROM changes c WHERE c.seq > after ORDER BY c.seq LIMIT greatest(page, 1))
            UNION ALL
            (SELECT e.seq, 'erasure', e.erasure_id, e.installation, e.installation, NULL, NULL,
                    '', NULL, '', e.login, e.at
             FROM erasures e WHERE e.seq > after ORDER BY e.seq LIMIT greatest(page, 1))
        ) AS both_kinds ORDER BY 1 LIMIT greatest(page, 1))
    SELECT c.seq, c.kind, c.change_id, c.entity, c.installation, c.field, c.value, c.hlc,
           c.prev_hlc, c.pc_id, c.login,
           to_char(c.at AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"'),
           v.recorded_at, v.kind, v.port, v.program_version, v.summary, v.sha256,
           encode(v.content, 'hex'), v.based_on
    FROM chosen c LEFT JOIN versions v ON c.kind = 'version' AND v.uuid = c.entity
    ORDER BY c.seq
$$;

-- The installations the office looks for: by name or notes, or by a phone
-- number (three digits or more) any version holds or the device has.
CREATE OR REPLACE FUNCTION trellikon.search(wanted text)
RETURNS TABLE (uuid uuid, name text, versions bigint, last_visit text, matches text)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = trellikon, pg_temp AS $$
DECLARE
    digits text := CASE WHEN wanted ~ '^[0-9]{3,}$' THEN reverse(wanted) END;
BEGIN
    RETURN QUERY
    WITH hits AS (
        SELECT v.installation AS site,
               string_agg(DISTINCT n.role || ' ' || n.position || ': ' || n.number, '; ') AS found
        FROM version_numbers n JOIN versions v ON v.uuid = n.version
        WHERE digits IS NOT NULL AND n.reversed COLLATE "C" >= digits
            AND n.reversed COLLATE "C" < digits || ':' AND v.installation IS NOT NULL
        GROUP BY v.installation),
    chosen AS (
        SELECT h.site, h.found FROM hits h
        UNION ALL
        SELECT i.uuid, NULL FROM installations i
        WHERE coalesce(wanted, '') = ''
            OR digits IS NOT NULL AND i.device_phone LIKE '%' || wanted
            OR digits IS NULL AND (strpos(lower(i.name), lower(wanted)) > 0
                                   OR strpos(lower(i.notes), lower(wanted)) > 0))
    SELECT i.uuid, i.name,
           (SELECT count(*) FROM versions v WHERE v.installation = i.uuid),
           (SELECT coalesce(max(v.recorded_at), '') FROM versions v WHERE v.installation = i.uuid),
           max(c.found)
    FROM chosen c JOIN installations i ON i.uuid = c.site
    WHERE NOT i.deleted
    GROUP BY i.uuid, i.name
    ORDER BY 4 DESC, 2;
END
$$;

-- One installation's versions (or every one's, `wanted` empty), newest first.
CREATE OR REPLACE FUNCTION trellikon.history(wanted text)
RETURNS TABLE (uuid uuid, recorded_at text, kind text, installation text, summary text,
               login text)
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = trellikon, pg_temp AS $$
    SELECT v.uuid, v.recorded_at, v.kind, coalesce(i.name, 'nieprzypisane'), v.summary, v.login
    FROM versions v LEFT JOIN installations i ON i.uuid = v.installation
    WHERE coalesce(wanted, '') = '' OR i.name = wanted
        OR wanted = 'nieprzypisane' AND v.installation IS NULL
    ORDER BY v.recorded_at DESC, v.uuid
$$;

-- An installation by its name, for the administrator's erasure.
CREATE OR REPLACE FUNCTION trellikon.installation_named(wanted text) RETURNS uuid
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = trellikon, pg_temp AS $$
    SELECT uuid FROM installations WHERE name = wanted ORDER BY deleted, uuid LIMIT 1
$$;

-- A client's data leaves the server: the installation, its versions, their
-- numbers and every change record of them. What stays is the erasure's id,
-- time and who; each laptop erases the same at its next pull.
CREATE OR REPLACE FUNCTION trellikon.erase(target uuid, pc text) RETURNS uuid
LANGUAGE plpgsql SECURITY DEFINER SET search_path = trellikon, pg_temp AS $$
DECLARE
    id uuid := gen_random_uuid();
BEGIN
    PERFORM pg_advisory_xact_lock(74111);
    IF NOT EXISTS (SELECT 1 FROM installations WHERE uuid = target) THEN
        RAISE EXCEPTION 'na serwerze nie ma tej instalacji' USING ERRCODE = 'TK002';
    END IF;
    CREATE TEMP TABLE IF NOT EXISTS erased_versions (uuid uuid) ON COMMIT DROP;
    DELETE FROM erased_versions;
    INSERT INTO erased_versions
        SELECT v.uuid FROM versions v WHERE v.installation = target
        UNION SELECT c.entity FROM changes c WHERE c.installation = target AND c.kind <> 'installation';
    DELETE FROM changes WHERE installation = target OR entity = target
        OR entity IN (SELECT uuid FROM erased_versions)
        OR kind = 'version_field' AND field = 'installation' AND value = target::text;
    DELETE FROM fields WHERE entity = target OR entity IN (SELECT uuid FROM erased_versions);
    DELETE FROM version_numbers WHERE version IN (SELECT uuid FROM erased_versions);
    DELETE FROM versions WHERE uuid IN (SELECT uuid FROM erased_versions);
    DELETE FROM installations WHERE uuid = target;
    INSERT INTO erasures VALUES (nextval('change_seq'), id, target, now(), session_user);
    INSERT INTO audit (login, pc_id, action, change_id, entity)
        VALUES (session_user, pc, 'erasure', id, target);
    RETURN id;
END
$$;

-- A new login (or a new password and role for one), the password as the
-- server keeps it (SCRAM), never as typed.
CREATE OR REPLACE FUNCTION trellikon.add_user(login text, role text, secret text) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = trellikon, pg_temp AS $$
BEGIN
    IF role NOT IN ('technik', 'biuro', 'admin') THEN
        RAISE EXCEPTION 'nieznana rola: % (technik, biuro albo admin)', role USING ERRCODE = 'TK003';
    END IF;
    IF login !~ '^[A-Za-z0-9_.@-]{1,63}$' OR login LIKE 'pg\_%' OR login LIKE 'trellikon\_%' THEN
        RAISE EXCEPTION 'niedozwolona nazwa loginu: %', login USING ERRCODE = 'TK003';
    END IF;
    IF secret !~ '^SCRAM-SHA-256\$' THEN
        RAISE EXCEPTION 'hasło musi przyjść zaszyfrowane (SCRAM-SHA-256)' USING ERRCODE = 'TK003';
    END IF;
    IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = login) THEN
        IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = login AND (rolsuper OR rolcreaterole)) THEN
            RAISE EXCEPTION 'login % jest administratorem serwera: jego hasło zmienia się na serwerze', login
                USING ERRCODE = 'TK003';
        END IF;
        EXECUTE format('ALTER ROLE %I LOGIN PASSWORD %L', login, secret);
        EXECUTE format('REVOKE trellikon_technik, trellikon_biuro, trellikon_admin FROM %I', login);
    ELSE
        EXECUTE format('CREATE ROLE %I LOGIN PASSWORD %L', login, secret);
    END IF;
    EXECUTE format('GRANT %I TO %I', 'trellikon_' || role, login);
    INSERT INTO audit (login, pc_id, action, entity) VALUES (session_user, '', 'add-user ' || login || ' ' || role, NULL);
END
$$;

REVOKE ALL ON ALL FUNCTIONS IN SCHEMA trellikon FROM PUBLIC;
GRANT EXECUTE ON FUNCTION trellikon.server_info() TO trellikon_technik, trellikon_biuro, trellikon_admin;
GRANT EXECUTE ON FUNCTION trellikon.sync_pull(bigint, integer) TO trellikon_technik, trellikon_biuro, trellikon_admin;
GRANT EXECUTE ON FUNCTION trellikon.search(text) TO trellikon_technik, trellikon_biuro, trellikon_admin;
GRANT EXECUTE ON FUNCTION trellikon.history(text) TO trellikon_technik, trellikon_biuro, trellikon_admin;
GRANT EXECUTE ON FUNCTION trellikon.installation_named(text) TO trellikon_technik, trellikon_biuro, trellikon_admin;
GRANT EXECUTE ON FUNCTION trellikon.sync_push(text, jsonb) TO trellikon_technik, trellikon_admin;
GRANT EXECUTE ON FUNCTION trellikon.erase(uuid, text) TO trellikon_admin;
GRANT EXECUTE ON FUNCTION trellikon.add_user(text, text, text) TO trellikon_admin;

UPDATE trellikon.meta SET value = '1' WHERE name = 'schema' AND value::integer < 1;
COMMIT;
