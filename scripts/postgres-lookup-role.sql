-- Gives the role through which the desktops run their lookups on PostgreSQL
-- its rights, and no others: it can read the lookup tables (PERIENTR,
-- GRUPOPER, and only the code and name of OPERADOR) and run PARAM; the
-- operators' credentials (OPERADORSENHA) stay unreadable. The role itself is
-- made by postgres-setup.sql. Run it as the database superuser on the
-- application's database, once the server has created its tables
-- (pru_server --create-db, or its first start), and again after an upgrade;
-- safe to run again (the rights are reset to exactly these):
--
--   sudo -u postgres psql -d pru87000 -v role=pru_lookup -f /usr/share/pru-server/postgres-lookup-role.sql
--
-- The desktops then use ([lookup] connection in /etc/xdg/pru/pru_host.conf):
--   engine=postgresql host=... port=5432 database=pru87000 user=pru_lookup password=... sslmode=require
\set ON_ERROR_STOP on
\if :{?role} \else \set role pru_lookup \endif
SELECT format('DO $x$BEGIN RAISE EXCEPTION %L; END$x$', format('o papel %s não existe: rode antes postgres-setup.sql', :'role'))
 WHERE NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = :'role') \gexec
SELECT format('DO $x$BEGIN RAISE EXCEPTION %L; END$x$', 'as tabelas ainda não existem: rode antes pru_server --create-db')
 WHERE to_regclass('perientr') IS NULL \gexec

-- Start from nothing on this schema's tables (table rights take their
-- column rights with them), then give back the lookups' own.
REVOKE ALL ON ALL TABLES IN SCHEMA public FROM :"role";
REVOKE ALL ON ALL SEQUENCES IN SCHEMA public FROM :"role";
GRANT CONNECT ON DATABASE :"DBNAME" TO :"role";
GRANT USAGE ON SCHEMA public TO :"role";
GRANT SELECT ON TABLE PERIENTR, GRUPOPER TO :"role";
GRANT SELECT (CDOPERADOR, NMOPERADOR) ON TABLE OPERADOR TO :"role";
GRANT EXECUTE ON FUNCTION PARAM TO :"role";
