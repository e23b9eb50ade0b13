-- The search text is the server's, and the desk's exact filters find what the desk expects.
begin;
select plan(10);

insert into auth.users (id) values ('11111111-1111-4111-8111-111111111111');
set local role authenticated;
select set_config('request.jwt.claims', '{"sub":"11111111-1111-4111-8111-111111111111","role":"authenticated"}', true);
insert into public.visitors (visitor_name, host_name, answers, signed_in_at, signed_out_at) values
    ('Ann Lee', 'Zoë Park', '[{"label":"Company","value":"ACME"},{"label":"Phone","value":""}]',
     '2025-03-04 09:00+00', null),
    ('Ann_Lee', null, '[]', '2025-03-04 23:59:59+00', '2025-03-05 01:00+00'),
    ('50%_off Sales', 'Back\slash', '[{"label":"Note","value":"Ring twice"}]', '2025-03-05 00:00+00', null),
    ('ÉMILE Brontë', 'ann', '[{"label":"Badge","value":7}]', '2025-03-03 08:00+00', '2025-03-03 09:00+00');

select is((select search_text from public.visitors where visitor_name = 'Ann Lee'), 'ann lee zoë park acme',
          'the search text: name, host and every non-empty answer value, lower-cased, single spaces');
select is((select search_text from public.visitors where visitor_name = 'ÉMILE Brontë'), 'émile brontë ann 7',
          'lower-casing beyond ASCII, and a number answer as text');
select throws_ok($$insert into public.visitors (visitor_name, search_text) values ('x', 'planted')$$, '428C9',
                 null, 'a client cannot write the search text');
select throws_ok($$update public.visitors set search_text = 'planted'$$, '428C9', null, 'nor change it');

-- The patterns the desk sends: lower-cased, with \, % and _ escaped, wrapped in %.
select results_eq($$select visitor_name from public.visitors where search_text ilike '%ann\_lee%'$$,
                  $$values ('Ann_Lee'::text)$$, 'an escaped underscore matches only an underscore');
select results_eq($$select visitor_name from public.visitors where search_text ilike '%50\%\_off%'$$,
                  $$values ('50%_off Sales'::text)$$, 'an escaped percent sign matches only itself');
select results_eq($$select visitor_name from public.visitors where search_text ilike '%back\\slash%'$$,
                  $$values ('50%_off Sales'::text)$$, 'an escaped backslash matches a backslash');
select results_eq($$select visitor_name from public.visitors where search_text ilike '%ann%'
                    order by signed_in_at desc, id desc$$,
                  $$values ('Ann_Lee'::text), ('Ann Lee'), ('ÉMILE Brontë')$$,
                  'a plain search finds name, host and answer matches, newest first');
-- A day in UTC: from its start, up to the next day's start.
select results_eq($$select visitor_name from public.visitors
                    where signed_in_at >= '2025-03-04T00:00:00Z' and signed_in_at < '2025-03-05T00:00:00Z'
                    order by signed_in_at desc, id desc$$,
                  $$values ('Ann_Lee'::text), ('Ann Lee')$$, 'gte and lt take the whole day and nothing after');
select results_eq($$select visitor_name from public.visitors where signed_out_at is null
                    order by signed_in_at desc, id desc$$,
                  $$values ('50%_off Sales'::text), ('Ann Lee')$$, 'is.null is who is on site');

select * from finish();
rollback;
