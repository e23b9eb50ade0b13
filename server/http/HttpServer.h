#pragma once

#include "http/HttpMessage.h"
#include "http/HttpParser.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QThreadPool>

#include <functional>

class QTcpSocket;

namespace tbserver {

// A small HTTP/1.1 server: keep-alive, Content-Length bodies up to a limit (413 beyond it, decided from the
// header before any body is read), one log line per request. Requests are read, and answers written, on the
// event loop thread; the handler runs there too, except for requests the offload test picks, which a pool of
// worker threads answers side by side. A connection waits for each answer before its next request is taken.
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
    using Offload = std::function<bool(const HttpRequest &)>;
    // Requests for which `offload` is true go to `workers` threads running `workerHandler`.
    void setWorkers(int workers, Offload offload, Handler workerHandler);

private:
    void accept();
    void serve(QTcpSocket *socket);
    void write(QTcpSocket *socket, const HttpRequest *request, const HttpResponse &response, bool keepAlive);
    void log(const HttpRequest &request, const HttpResponse &response, qint64 nanoseconds) const;
    [[nodiscard]] static HttpResponse answer(const Handler &handler, const HttpRequest &request);

    Handler m_handler;
    ParserLimits m_limits;
    QTcpServer m_server;
    bool m_logging = true;
    Offload m_offload;
    Handler m_workerHandler;
    // Last: destroyed first, waiting for the workers before what they use goes.
    QThreadPool m_workers;
};

[[nodiscard]] QByteArray serializeResponse(const HttpResponse &response, bool headRequest, bool keepAlive);

} // namespace tbserver
