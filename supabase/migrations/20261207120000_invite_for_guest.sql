-- The guest's invite page. The website shows it to whoever holds the link, without an account, so it may not
-- read the invites table with anyone's rights: this function hands out the one invite a token names, and only
-- what the page shows. Only the website's service key may call it.

create function public.invite_for_guest(invite_token text)
returns table (visitor_name text, visit_date text, visit_time text, note text, used_at timestamptz,
               place_name text)
language sql
stable
security definer
set search_path = ''
as $$
    select i.visitor_name, i.visit_date, i.visit_time, i.note, i.used_at, k.place_name
    from public.invites i
    left join public.kiosk_settings k on k.owner_id = i.owner_id
    where i.token = invite_token
$$;

-- The hosted project grants every new function to the client roles by default.
revoke all on function public.invite_for_guest(text) from public, anon, authenticated;
grant execute on function public.invite_for_guest(text) to service_role;
