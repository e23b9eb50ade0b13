#pragma once

#include "core/ServerContext.h"
#include "http/HttpMessage.h"

namespace tbserver {

class Outbox;

class WebsiteService final {
public:
    WebsiteService(ServerContext &context, Outbox &outbox);
    Q_DISABLE_COPY_MOVE(WebsiteService)

    // `subpath` is the part after the service's prefix, without a leading "/".
    [[nodiscard]] HttpResponse handle(const HttpRequest &request, QByteArrayView subpath);

private:
    ServerContext &m_context;
    Outbox &m_outbox;
};

} // namespace tbserver
