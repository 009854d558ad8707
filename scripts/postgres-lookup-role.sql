-- The role through which the hosts run their lookups on PostgreSQL: it can
-- read the lookup tables (PERIENTR, GRUPOPER, and only the code and name of
-- OPERADOR) and run PARAM, and nothing else; in particular the operators'
-- credentials (OPERADORSENHA) stay unreadable. Safe to run again: the role's
-- rights are reset to exactly these. Run it as the owner of the tables, on
-- the application's database, once its schema is in place:
--
--   psql -d pru -v role=pru_lookup -v password='...' -f scripts/postgres-lookup-role.sql
--
-- The hosts then use: engine=postgresql host=... port=... database=pru
-- user=pru_lookup password=...
\set ON_ERROR_STOP on
SELECT format('CREATE ROLE %I LOGIN', :'role')
 WHERE NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = :'role') \gexec
ALTER ROLE :"role" WITH LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE NOINHERIT PASSWORD :'password';

-- Start from nothing on this schema's tables (table rights take their
-- column rights with them), then give back the lookups' own.
REVOKE ALL ON ALL TABLES IN SCHEMA public FROM :"role";
REVOKE ALL ON ALL SEQUENCES IN SCHEMA public FROM :"role";
GRANT CONNECT ON DATABASE :"DBNAME" TO :"role";
GRANT USAGE ON SCHEMA public TO :"role";
GRANT SELECT ON TABLE PERIENTR, GRUPOPER TO :"role";
GRANT SELECT (CDOPERADOR, NMOPERADOR) ON TABLE OPERADOR TO :"role";
GRANT EXECUTE ON FUNCTION PARAM TO :"role";
