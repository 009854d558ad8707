-- Creates what the application server needs on a PostgreSQL server: its role,
-- its database owned by that role (PostgreSQL 15 lets only the owner create
-- tables in the schema public), and the read-only role the desktops' lookups
-- use, with a connection limit and a statement timeout since its password is
-- on every desktop. Run it as the database superuser; safe to run again
-- (passwords, limit and timeout are set anew):
--
--   sudo -u postgres psql -v server_password='...' -v lookup_password='...' \
--        -f /usr/share/pru-server/postgres-setup.sql
--
-- Optional: -v database=pru87000 -v server_role=pru -v lookup_role=pru_lookup
-- -v lookup_limit=100 (connections: one per open screen) -v lookup_timeout=5s.
-- Then let the server create its tables and give the lookup role its rights:
--
--   sudo -u pru pru_server --config /etc/pru/pru_server.conf --create-db
--   sudo -u postgres psql -d pru87000 -v role=pru_lookup -f /usr/share/pru-server/postgres-lookup-role.sql
\set ON_ERROR_STOP on
\if :{?database} \else \set database pru87000 \endif
\if :{?server_role} \else \set server_role pru \endif
\if :{?lookup_role} \else \set lookup_role pru_lookup \endif
\if :{?lookup_limit} \else \set lookup_limit 100 \endif
\if :{?lookup_timeout} \else \set lookup_timeout 5s \endif
-- A missing password stops here with an error (and psql's exit code 3).
\if :{?server_password} \else
  SELECT format('DO $x$BEGIN RAISE EXCEPTION %L; END$x$', 'informe -v server_password=... (senha do papel do servidor)') \gexec
\endif
\if :{?lookup_password} \else
  SELECT format('DO $x$BEGIN RAISE EXCEPTION %L; END$x$', 'informe -v lookup_password=... (senha do papel das consultas)') \gexec
\endif

SELECT format('CREATE ROLE %I LOGIN', :'server_role')
 WHERE NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = :'server_role') \gexec
ALTER ROLE :"server_role" WITH LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE PASSWORD :'server_password';

SELECT format('CREATE ROLE %I LOGIN', :'lookup_role')
 WHERE NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = :'lookup_role') \gexec
ALTER ROLE :"lookup_role" WITH LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE NOINHERIT
  CONNECTION LIMIT :lookup_limit PASSWORD :'lookup_password';
ALTER ROLE :"lookup_role" SET statement_timeout = :'lookup_timeout';

SELECT format('CREATE DATABASE %I OWNER %I ENCODING %L TEMPLATE template0', :'database', :'server_role', 'UTF8')
 WHERE NOT EXISTS (SELECT 1 FROM pg_database WHERE datname = :'database') \gexec
ALTER DATABASE :"database" OWNER TO :"server_role";
-- Only the two roles connect to it.
REVOKE ALL ON DATABASE :"database" FROM PUBLIC;
GRANT CONNECT ON DATABASE :"database" TO :"lookup_role";
