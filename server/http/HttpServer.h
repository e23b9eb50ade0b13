#pragma once

#include "http/HttpMessage.h"
#include "http/HttpParser.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

namespace tbserver {

// A small HTTP/1.1 server: keep-alive, Content-Length bodies up to a limit (413 beyond it, decided from the
// header before any body is read), one log line per request. Handlers run on the event loop thread.
class HttpServer final : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;

    explicit HttpServer(Handler handler, ParserLimits limits = {}, QObject *parent = nullptr);
    ~HttpServer() override;
    Q_DISABLE_COPY_MOVE(HttpServer)

    bool listen(const QHostAddress &address, quint16 port);
    [[nodiscard]] quint16 port() const { return m_server.serverPort(); }
    [[nodiscard]] QHostAddress address() const { return m_server.serverAddress(); }
    [[nodiscard]] QString errorString() const { return m_server.errorString(); }

    void setLogging(bool enabled) { m_logging = enabled; }

private:
    void accept();
    void serve(QTcpSocket *socket);
    void write(QTcpSocket *socket, const HttpRequest *request, const HttpResponse &response, bool keepAlive);

    Handler m_handler;
    ParserLimits m_limits;
    QTcpServer m_server;
    bool m_logging = true;
};

[[nodiscard]] QByteArray serializeResponse(const HttpResponse &response, bool headRequest, bool keepAlive);

} // namespace tbserver
