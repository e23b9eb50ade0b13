#pragma once

#include <QByteArray>

namespace tbserver::testing {

// Ten visitors of one account chosen for the edges of the query language: wildcards, quotes, a plus,
// non-ASCII, null hosts, several time zones, two sign-ins in the same second. Ids are ...0001 to ...000a.
inline const QByteArray sampleVisitors = R"json([
{"id":"00000000-0000-4000-8000-000000000001","visitor_name":"Ann Lee","host_name":"Maria Garcia",
 "answers":[{"label":"Company","value":"Acme"}],"signed_in_at":"2025-03-01T09:00:00Z","signed_out_at":"2025-03-01T10:00:00Z"},
{"id":"00000000-0000-4000-8000-000000000002","visitor_name":"Bob Stone","host_name":null,
 "answers":[{"label":"Company","value":"Globex"}],"signed_in_at":"2025-03-02T09:00:00Z","signed_out_at":null},
{"id":"00000000-0000-4000-8000-000000000003","visitor_name":"Zoë Brontë","host_name":"Jürgen Groß",
 "answers":[{"label":"Purpose","value":"Café meeting"}],"signed_in_at":"2025-03-03T12:30:00.5Z","signed_out_at":null},
{"id":"00000000-0000-4000-8000-000000000004","visitor_name":"50%_off Sales","host_name":"Maria Garcia",
 "answers":[{"label":"Note","value":"back\\slash"}],"signed_in_at":"2025-03-04T08:00:00+01:00","signed_out_at":"2025-03-04T09:00:00Z"},
{"id":"00000000-0000-4000-8000-000000000005","visitor_name":"a+b Consulting","host_name":"Tom",
 "answers":[],"signed_in_at":"2025-03-05T00:00:00Z","signed_out_at":null},
{"id":"00000000-0000-4000-8000-000000000006","visitor_name":"Ann_Lee","host_name":"Tom",
 "answers":[{"label":"Company","value":"Initech"}],"signed_in_at":"2025-03-06T23:59:59.999999Z","signed_out_at":"2025-03-07T08:00:00Z"},
{"id":"00000000-0000-4000-8000-000000000007","visitor_name":"annette smith","host_name":"Maria Garcia",
 "answers":[{"label":"Company","value":"Acme"}],"signed_in_at":"2025-03-07T10:00:00Z","signed_out_at":null},
{"id":"00000000-0000-4000-8000-000000000008","visitor_name":"O'Brien, Pat","host_name":null,
 "answers":[{"label":"Company","value":"It's \"quoted\""}],"signed_in_at":"2025-03-08T10:00:00Z","signed_out_at":null},
{"id":"00000000-0000-4000-8000-000000000009","visitor_name":"Tie One","host_name":null,
 "answers":[],"signed_in_at":"2025-03-08T10:00:00Z","signed_out_at":null},
{"id":"00000000-0000-4000-8000-00000000000a","visitor_name":"Carol *Star*","host_name":"Tom",
 "answers":[],"signed_in_at":"2025-02-28T23:00:00-02:00","signed_out_at":"2025-03-01T02:00:00Z"}
])json";

// Newest first by signed_in_at, then id.
inline const QByteArray sampleNewestFirst =
    "Tie One|O'Brien, Pat|annette smith|Ann_Lee|a+b Consulting|50%_off Sales|Zoë Brontë|Bob Stone|Ann "
    "Lee|Carol *Star*";

} // namespace tbserver::testing
