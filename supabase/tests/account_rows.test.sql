-- Each account reads and changes only its own rows; the anonymous role reads nothing; the setup upsert merges;
-- delete_account removes exactly the caller's data.
begin;
select plan(19);

insert into auth.users (id, email) values
    ('11111111-1111-4111-8111-111111111111', 'ada@example.com'),
    ('22222222-2222-4222-8222-222222222222', 'bob@example.com');

-- Ada's desk: a visitor, an invite, her setup.
set local role authenticated;
select set_config('request.jwt.claims', '{"sub":"11111111-1111-4111-8111-111111111111","role":"authenticated"}', true);
insert into public.visitors (visitor_name) values ('Ada''s visitor');
insert into public.invites (visitor_name, visitor_email) values ('Ada''s guest', 'guest@example.com');
insert into public.kiosk_settings (fields, place_name) values ('[{"slot":0}]', 'Riverside');
insert into public.notification_settings (office_webhook) values ('https://hooks.slack.com/services/a');
select is((select owner_id from public.visitors), '11111111-1111-4111-8111-111111111111'::uuid,
          'a row is owned by the account that wrote it');
select is(length((select token from public.invites)), 64, 'an invite gets a long random token');

-- The upsert the desk sends (on_conflict=owner_id, merge-duplicates) changes the one row, keeping what it omits.
insert into public.kiosk_settings (owner_id, fields) values ('11111111-1111-4111-8111-111111111111', '[]')
    on conflict (owner_id) do update set fields = excluded.fields;
select results_eq('select fields::text, place_name from public.kiosk_settings',
                  $$values ('[]'::text, 'Riverside'::text)$$, 'the setup upsert merges into the one row');

-- Bob's desk sees and changes none of it.
select set_config('request.jwt.claims', '{"sub":"22222222-2222-4222-8222-222222222222","role":"authenticated"}', true);
insert into public.visitors (visitor_name) values ('Bob''s visitor');
select results_eq('select visitor_name from public.visitors', $$values ('Bob''s visitor'::text)$$,
                  'an account reads only its own visitors');
select is_empty('select 1 from public.invites', 'nor anyone else''s invites');
select is_empty('select 1 from public.kiosk_settings', 'nor their form');
select is_empty('select 1 from public.notification_settings', 'nor their webhooks');
select is_empty($$update public.visitors set signed_out_at = now() where visitor_name = 'Ada''s visitor' returning 1$$,
                'another account''s visitor cannot be signed out');
select is_empty($$delete from public.invites returning 1$$, 'another account''s invite cannot be cancelled');
select throws_ok($$insert into public.visitors (owner_id, visitor_name)
                   values ('11111111-1111-4111-8111-111111111111', 'planted')$$,
                 '42501', null, 'a row cannot be written into another account');
select throws_ok($$update public.visitors set owner_id = '11111111-1111-4111-8111-111111111111'$$,
                 '42501', null, 'nor moved into one');
select throws_ok($$insert into public.kiosk_settings (owner_id) values ('11111111-1111-4111-8111-111111111111')
                   on conflict (owner_id) do update set place_name = 'taken'$$,
                 '42501', null, 'nor can an upsert take over another account''s setup');

-- The anonymous role has no access at all.
reset role;
set local role anon;
select throws_ok('select 1 from public.visitors', '42501', null, 'the anonymous role reads no visitors');
select throws_ok($$insert into public.invites (visitor_name, visitor_email) values ('x', 'y')$$, '42501', null,
                 'and writes no invites');
select throws_ok('select public.delete_account()', '42501', null, 'and cannot delete an account');

-- Bob deletes his account: his rows go, Ada's stay.
reset role;
set local role authenticated;
select set_config('request.jwt.claims', '{"sub":"22222222-2222-4222-8222-222222222222","role":"authenticated"}', true);
select lives_ok('select public.delete_account()', 'an account deletes itself');
reset role;
select is((select count(*)::int from auth.users), 1, 'the caller''s user is gone');
select results_eq('select visitor_name from public.visitors', $$values ('Ada''s visitor'::text)$$,
                  'with every row of theirs, and no one else''s');
select is((select count(*)::int from public.kiosk_settings), 1, 'the other account keeps its setup');

select * from finish();
rollback;
