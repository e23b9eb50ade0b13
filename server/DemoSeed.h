#pragma once

#include <QString>

namespace tbserver {

class ServerContext;

struct DemoAccount {
    QString email;
    QString password;
    bool created = false; // false when it existed already
};

// Creates, once, a demo account with a sign-in form, employees, a few weeks of visitors and some invites.
// All of it is written in one transaction; a second call finds the account and leaves everything as it is.
DemoAccount seedDemoAccount(ServerContext &context);

} // namespace tbserver
