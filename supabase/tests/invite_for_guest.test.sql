-- The guest page's function: one invite by its token, only for the service role.
begin;
select plan(5);

insert into auth.users (id, email) values ('11111111-1111-4111-8111-111111111111', 'ada@example.com');
insert into public.invites (owner_id, token, visitor_name, visitor_email, visit_date, note) values
    ('11111111-1111-4111-8111-111111111111', 'tok-ingrid', 'Ingrid Halvorsen', 'i@example.com', '2026-12-08', 'Gate B'),
    ('11111111-1111-4111-8111-111111111111', 'tok-other', 'Someone Else', 's@example.com', null, null);
insert into public.kiosk_settings (owner_id, place_name) values ('11111111-1111-4111-8111-111111111111', 'Riverside');

set local role service_role;
select results_eq($$select visitor_name, visit_date, note, place_name from public.invite_for_guest('tok-ingrid')$$,
                  $$values ('Ingrid Halvorsen'::text, '2026-12-08'::text, 'Gate B'::text, 'Riverside'::text)$$,
                  'the service role gets the one invite the token names, with the place');
select is_empty($$select 1 from public.invite_for_guest('tok-%')$$, 'a token is matched exactly, not as a pattern');
select is_empty($$select 1 from public.invite_for_guest('unknown')$$, 'an unknown token gives nothing');

reset role;
set local role authenticated;
select set_config('request.jwt.claims', '{"sub":"11111111-1111-4111-8111-111111111111","role":"authenticated"}', true);
select throws_ok($$select * from public.invite_for_guest('tok-ingrid')$$, '42501', null,
                 'a signed-in account cannot call it');
reset role;
set local role anon;
select throws_ok($$select * from public.invite_for_guest('tok-ingrid')$$, '42501', null,
                 'nor can the anonymous role');

select * from finish();
rollback;
