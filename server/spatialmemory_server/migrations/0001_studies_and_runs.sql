-- The studies, their links, the runs started from them and every file a run's page uploads.
-- Tokens that grant access (experimenters', uploads') are kept as SHA-256 digests only.

CREATE TABLE experimenters (
    id              bigserial PRIMARY KEY,
    name            text NOT NULL UNIQUE,
    token_sha256    bytea NOT NULL UNIQUE,       -- digest of the experimenter's token
    created_at      timestamptz NOT NULL DEFAULT now()
);

CREATE TABLE studies (
    id                      bigserial PRIMARY KEY,
    experimenter_id         bigint NOT NULL REFERENCES experimenters,
    name                    text NOT NULL,        -- [A-Za-z0-9][A-Za-z0-9_-]*, unique per owner
    title                   text NOT NULL,
    instructions            text NOT NULL,
    settings                bytea NOT NULL,       -- the settings file, byte for byte
    settings_sha256         text NOT NULL,        -- hex, as the sidecar names it
    completion_url          text,                 -- where a participant goes at the end
    runs_per_participant    integer NOT NULL CHECK (runs_per_participant >= 1),
    next_participant        integer NOT NULL DEFAULT 1,  -- numbers the single-use links
    created_at              timestamptz NOT NULL DEFAULT now(),
    UNIQUE (experimenter_id, name)
);

-- A single-use link starts one run for the participant it was made for; the study's general
-- link starts runs for whatever id its URL parameter carries.
CREATE TABLE links (
    id              bigserial PRIMARY KEY,
    study_id        bigint NOT NULL REFERENCES studies ON DELETE CASCADE,
    token           text NOT NULL UNIQUE,        -- the link's secret part
    general         boolean NOT NULL,
    participant     text,                        -- single-use: its participant's id
    param           text,                        -- general: the URL parameter with the id
    created_at      timestamptz NOT NULL DEFAULT now(),
    CHECK (general = (participant IS NULL) AND general = (param IS NOT NULL))
);
CREATE UNIQUE INDEX links_one_general ON links (study_id) WHERE general;
CREATE UNIQUE INDEX links_single_participant ON links (study_id, participant) WHERE NOT general;

CREATE TABLE runs (
    id                  bigserial PRIMARY KEY,
    public_id           text NOT NULL UNIQUE,        -- the run's name in upload URLs
    study_id            bigint NOT NULL REFERENCES studies ON DELETE CASCADE,
    link_id             bigint NOT NULL REFERENCES links ON DELETE CASCADE,
    participant         text NOT NULL,
    number              integer NOT NULL CHECK (number >= 1),  -- the participant's k-th run
    upload_token_sha256 bytea NOT NULL UNIQUE,
    attempt             text,                        -- the page's key for its start request
    started_at          timestamptz NOT NULL DEFAULT now(),
    last_upload_at      timestamptz,
    finished_at         timestamptz,
    checked_digest      bytea,                       -- the files the stored check is about
    check_result        jsonb,                       -- trials and problems found in the files
    UNIQUE (study_id, participant, number)
);
CREATE INDEX runs_link ON runs (link_id);

CREATE TABLE files (
    run_id          bigint NOT NULL REFERENCES runs ON DELETE CASCADE,
    name            text NOT NULL,
    content         bytea NOT NULL,
    size            integer NOT NULL,
    sha256          bytea NOT NULL,
    save            integer,                     -- the page's save that last changed it
    uploaded_at     timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (run_id, name)
);

-- What the server turned away from a run's page, for the experimenter to see.
CREATE TABLE refusals (
    id          bigserial PRIMARY KEY,
    run_id      bigint NOT NULL REFERENCES runs ON DELETE CASCADE,
    at          timestamptz NOT NULL DEFAULT now(),
    name        text NOT NULL,                   -- the file name as sent (cut to 200 characters)
    status      integer NOT NULL,
    reason      text NOT NULL,
    size        bigint
);
CREATE INDEX refusals_run ON refusals (run_id);

-- The last line of defence for append-only files: whatever the server's code does, a stored
-- file other than an event log's sidecar only ever grows, its first bytes unchanged.
CREATE FUNCTION files_append_only() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF NEW.name !~ '^results_events[0-9]+\.json$'
       AND (NEW.size < OLD.size OR substring(NEW.content FROM 1 FOR OLD.size) <> OLD.content) THEN
        RAISE EXCEPTION 'stored bytes of % may not change', NEW.name
            USING ERRCODE = 'integrity_constraint_violation';
    END IF;
    RETURN NEW;
END
$$;
CREATE TRIGGER files_append_only BEFORE UPDATE ON files
    FOR EACH ROW WHEN (OLD.content IS DISTINCT FROM NEW.content) EXECUTE FUNCTION files_append_only();
