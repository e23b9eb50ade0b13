#include "DemoSeed.h"

#include "core/ServerContext.h"

namespace tbserver {

DemoAccount seedDemoAccount(ServerContext &context)
{
    Q_UNUSED(context);
    return {QStringLiteral("demo@tallybrook.local"), QStringLiteral("tallybrook-demo"), false};
}

} // namespace tbserver
