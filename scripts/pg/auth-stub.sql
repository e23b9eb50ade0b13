-- What a hosted project provides and a plain PostgreSQL does not: the API roles, the auth schema with its users
-- and auth.uid(), and the extensions schema. Only for testing the migration outside a hosted project.
create role anon nologin noinherit;
create role authenticated nologin noinherit;
create role service_role nologin noinherit bypassrls;
create role authenticator noinherit login;
grant anon, authenticated, service_role to authenticator;

create schema auth;
create schema extensions;
grant usage on schema extensions to public;
create table auth.users (
    id uuid primary key default gen_random_uuid(),
    email text unique,
    created_at timestamptz not null default now()
);
-- The subject of the request's access token, as the hosted gateway sets it per request.
create function auth.uid()
returns uuid
language sql
stable
as $$
    select nullif(
        coalesce(current_setting('request.jwt.claim.sub', true),
                 (nullif(current_setting('request.jwt.claims', true), '')::jsonb ->> 'sub')),
        '')::uuid
$$;
grant usage on schema auth to anon, authenticated, service_role;
grant execute on function auth.uid() to anon, authenticated, service_role;
grant usage on schema public to anon, authenticated, service_role;
-- A hosted project grants every new table and function in public to the API roles; the migration must take back
-- what they should not have.
alter default privileges in schema public grant all on tables to anon, authenticated, service_role;
alter default privileges in schema public grant all on functions to anon, authenticated, service_role;
alter default privileges in schema public grant all on sequences to anon, authenticated, service_role;
