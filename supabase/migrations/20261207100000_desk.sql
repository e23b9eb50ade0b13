-- The account tables of the Tallybrook desk, their row security, the visitor search and account deletion.
-- Every row belongs to one account (owner_id = the signed-in user); each account sees and changes only its own.

create extension if not exists pg_trgm with schema extensions;

-- ---- visitors: one row per sign-in

-- What the desk's search matches: the visitor's name, the host and every answer's value, joined by single spaces
-- and lower-cased. Declared immutable (it reads only its arguments), so a generated column may use it.
create function public.visitor_search_text(visitor_name text, host_name text, answers jsonb)
returns text
language sql
immutable
parallel safe
set search_path = ''
as $$
    select pg_catalog.lower(pg_catalog.concat_ws(' ',
        nullif(visitor_name, ''),
        nullif(host_name, ''),
        (select pg_catalog.string_agg(answer ->> 'value', ' ')
         from pg_catalog.jsonb_array_elements(case when pg_catalog.jsonb_typeof(answers) = 'array'
                                                   then answers else '[]'::jsonb end) as answer
         where coalesce(answer ->> 'value', '') <> '')))
$$;

create table public.visitors (
    id uuid primary key default gen_random_uuid(),
    owner_id uuid not null default auth.uid() references auth.users (id) on delete cascade,
    device_record_id text,
    visitor_name text not null,
    host_name text,
    answers jsonb not null default '[]'::jsonb check (jsonb_typeof(answers) = 'array'),
    signed_in_at timestamptz not null default now(),
    signed_out_at timestamptz,
    list_name text,
    device_name text,
    -- Never written by a client: a generated column refuses any value but its own.
    search_text text not null generated always as (public.visitor_search_text(visitor_name, host_name, answers))
        stored,
    created_at timestamptz not null default now()
);

-- The log newest first (the id breaks ties, so offset pages never skip or repeat a row); counts since a time.
create index visitors_owner_signed_in on public.visitors (owner_id, signed_in_at desc, id desc);
-- Who is on site now.
create index visitors_owner_on_site on public.visitors (owner_id, signed_in_at desc, id desc)
    where signed_out_at is null;
-- ilike '%text%' for three characters or more.
create index visitors_search_text on public.visitors using gin (search_text extensions.gin_trgm_ops);

-- ---- invites: guests invited ahead

create table public.invites (
    id uuid primary key default gen_random_uuid(),
    owner_id uuid not null default auth.uid() references auth.users (id) on delete cascade,
    -- The secret in the guest's link: 244 random bits, URL-safe.
    token text not null unique default replace(gen_random_uuid()::text || gen_random_uuid()::text, '-', ''),
    visitor_name text not null,
    visitor_email text not null,
    answers jsonb not null default '[]'::jsonb check (jsonb_typeof(answers) = 'array'),
    visit_date text,
    visit_time text,
    note text,
    created_at timestamptz not null default now(),
    used_at timestamptz
);

create index invites_owner_created on public.invites (owner_id, created_at desc);
create index invites_owner_waiting on public.invites (owner_id, created_at desc) where used_at is null;

-- ---- the account's setup: one row each, upserted with on_conflict=owner_id

create function public.touch_updated_at()
returns trigger
language plpgsql
set search_path = ''
as $$
begin
    new.updated_at := now();
    return new;
end
$$;

create table public.kiosk_settings (
    owner_id uuid primary key default auth.uid() references auth.users (id) on delete cascade,
    fields jsonb not null default '[]'::jsonb check (jsonb_typeof(fields) = 'array'),
    employees jsonb not null default '[]'::jsonb check (jsonb_typeof(employees) = 'array'),
    place_name text,
    updated_at timestamptz default now()
);

create table public.notification_settings (
    owner_id uuid primary key default auth.uid() references auth.users (id) on delete cascade,
    office_webhook text not null default '',
    notify_sign_in boolean not null default true,
    notify_sign_out boolean not null default false,
    employee_webhooks jsonb not null default '{}'::jsonb check (jsonb_typeof(employee_webhooks) = 'object'),
    updated_at timestamptz default now()
);

create trigger kiosk_settings_touch before update on public.kiosk_settings
    for each row execute function public.touch_updated_at();
create trigger notification_settings_touch before update on public.notification_settings
    for each row execute function public.touch_updated_at();

-- ---- row security: each account its own rows, nothing for the anonymous role

do $$
declare
    account_table text;
begin
    foreach account_table in array array['visitors', 'invites', 'kiosk_settings', 'notification_settings'] loop
        execute format('alter table public.%I enable row level security', account_table);
        -- "(select auth.uid())" is evaluated once per statement, not once per row.
        execute format('create policy "Own rows: read" on public.%I for select to authenticated '
                       'using ((select auth.uid()) = owner_id)', account_table);
        execute format('create policy "Own rows: add" on public.%I for insert to authenticated '
                       'with check ((select auth.uid()) = owner_id)', account_table);
        execute format('create policy "Own rows: change" on public.%I for update to authenticated '
                       'using ((select auth.uid()) = owner_id) with check ((select auth.uid()) = owner_id)',
                       account_table);
        execute format('create policy "Own rows: remove" on public.%I for delete to authenticated '
                       'using ((select auth.uid()) = owner_id)', account_table);
        execute format('revoke all on table public.%I from anon, public', account_table);
        execute format('grant select, insert, update, delete on table public.%I to authenticated', account_table);
        execute format('grant all on table public.%I to service_role', account_table);
    end loop;
end
$$;

revoke all on function public.visitor_search_text(text, text, jsonb) from anon;
revoke all on function public.touch_updated_at() from public, anon, authenticated;

-- ---- the account's own deletion: the user, and through the cascades every row of theirs

create function public.delete_account()
returns void
language plpgsql
security definer
set search_path = ''
as $$
declare
    caller uuid := auth.uid();
begin
    if caller is null then
        raise exception 'not signed in' using errcode = '42501';
    end if;
    delete from auth.users where id = caller;
end
$$;

revoke all on function public.delete_account() from public, anon;
grant execute on function public.delete_account() to authenticated;
