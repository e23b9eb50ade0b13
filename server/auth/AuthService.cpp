#include "auth/AuthService.h"

#include "core/Outbox.h"

namespace tbserver {

AuthService::AuthService(ServerContext &context, Outbox &outbox) : m_context(context), m_outbox(outbox) {}

HttpResponse AuthService::handle(const HttpRequest &request, QByteArrayView subpath)
{
    Q_UNUSED(request);
    Q_UNUSED(subpath);
    return HttpResponse::jsonText(404, R"({"message":"not yet here"})");
}

} // namespace tbserver
