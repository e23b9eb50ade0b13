#include "rest/RestService.h"

#include "core/Outbox.h"

namespace tbserver {

RestService::RestService(ServerContext &context, Outbox &outbox) : m_context(context), m_outbox(outbox) {}

HttpResponse RestService::handle(const HttpRequest &request, QByteArrayView subpath)
{
    Q_UNUSED(request);
    Q_UNUSED(subpath);
    return HttpResponse::jsonText(404, R"({"message":"not yet here"})");
}

} // namespace tbserver
