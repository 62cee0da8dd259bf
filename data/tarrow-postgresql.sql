-- The central alarm table of the Quillet loggers (PostgreSQL 12 or later).
-- Each logger creates it at its first connection when it may; an
-- administrator who keeps the loggers' login from creating tables runs this
-- file once, then grants the login SELECT and INSERT on the table and USAGE on
-- its id sequence:
--   psql -d alarms -f /usr/share/quillet/tarrow-postgresql.sql
--   GRANT SELECT, INSERT ON tarrow TO quillet;
--   GRANT USAGE ON SEQUENCE tarrow_id_seq TO quillet;
CREATE TABLE IF NOT EXISTS tarrow (
    id            bigserial PRIMARY KEY,  -- the order the rows arrived in
    Date          text NOT NULL,          -- "YYYY/MM/DD hh:mm:ss AM|PM", the SIM's stamp
    AlarmCallerID text NOT NULL,          -- site name, or the sender's number
    AlarmMessage  text NOT NULL,
    logger        text NOT NULL,          -- LoggerName of the logger that recorded it
    received_at   timestamptz NOT NULL    -- when that logger recorded it
);
-- One row per alarm, however many loggers received it. The text is keyed by
-- its digest: an index entry holds at most about 2,700 bytes, and a long
-- concatenated message must never be refused.
CREATE UNIQUE INDEX IF NOT EXISTS tarrow_alarm_key
    ON tarrow (Date, AlarmCallerID, md5(AlarmMessage));
