-- Test-only stand-ins for the Oracle functions the ORACLE statement texts
-- use, in a schema that the role's search path puts ahead of pg_catalog.
CREATE SCHEMA oracompat;

CREATE FUNCTION oracompat.instr(text, text) RETURNS integer
    LANGUAGE sql IMMUTABLE AS $$ SELECT strpos($1, $2) $$;

CREATE FUNCTION oracompat.trunc(date) RETURNS date
    LANGUAGE sql IMMUTABLE AS $$ SELECT $1 $$;

CREATE FUNCTION oracompat.trunc(timestamp) RETURNS date
    LANGUAGE sql IMMUTABLE AS $$ SELECT $1::date $$;

-- Oracle gives NULL for a length below 1 where PostgreSQL raises an error,
-- and treats position 0 as 1.
CREATE FUNCTION oracompat.substr(text, integer, integer) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$
    SELECT CASE WHEN $3 < 1 THEN NULL
                ELSE pg_catalog.substr($1, CASE WHEN $2 = 0 THEN 1 ELSE $2 END, $3) END $$;

CREATE FUNCTION oracompat.substr(text, integer) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$
    SELECT pg_catalog.substr($1, CASE WHEN $2 = 0 THEN 1 ELSE $2 END) $$;
