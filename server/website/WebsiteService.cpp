#include "website/WebsiteService.h"

#include "core/Outbox.h"

namespace tbserver {

WebsiteService::WebsiteService(ServerContext &context, Outbox &outbox) : m_context(context), m_outbox(outbox) {}

HttpResponse WebsiteService::handle(const HttpRequest &request, QByteArrayView subpath)
{
    Q_UNUSED(request);
    Q_UNUSED(subpath);
    return HttpResponse::jsonText(404, R"({"message":"not yet here"})");
}

} // namespace tbserver
