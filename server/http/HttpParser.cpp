#include "http/HttpParser.h"

namespace tbserver {

namespace {

ParseResult failed(int status) {
    ParseResult result;
    result.state = ParseResult::State::Failed;
    result.failureStatus = status;
    result.keepAlive = false;
    return result;
}

bool isToken(const QByteArray &text) {
    if (text.isEmpty()) {
        return false;
    }
    for (const char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
        if (!ok) {
            return false;
        }
    }
    return true;
}

} // namespace

ParseResult parseRequest(const QByteArray &buffer, const ParserLimits &limits) {
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        return buffer.size() > limits.maxHeaderBytes ? failed(431) : ParseResult{};
    }
    if (headEnd > limits.maxHeaderBytes) {
        return failed(431);
    }

    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !isToken(requestLine[0]) || !requestLine[1].startsWith('/') ||
        !requestLine[2].startsWith("HTTP/1.")) {
        return failed(400);
    }

    ParseResult result;
    HttpRequest &request = result.request;
    request.method = requestLine[0];
    const QByteArray &target = requestLine[1];
    const qsizetype question = target.indexOf('?');
    request.path = question < 0 ? target : target.left(question);
    request.rawQuery = question < 0 ? QByteArray() : target.mid(question + 1);
    const bool http10 = requestLine[2] == "HTTP/1.0";

    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.left(colon))) {
            return failed(400);
        }
        request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }

    const QByteArray connection = request.header("Connection").toLower();
    result.keepAlive = http10 ? connection.contains("keep-alive") : !connection.contains("close");
    if (request.hasHeader("Transfer-Encoding")) {
        return failed(501); // the desk never sends chunked bodies
    }
    // Two lengths that disagree would let a proxy and this server read different requests from one stream.
    QByteArray declaredLength;
    for (const auto &[name, value] : request.headers) {
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            if (!declaredLength.isNull() && declaredLength != value) {
                return failed(400);
            }
            declaredLength = value;
        }
    }
    qsizetype length = 0;
    if (request.hasHeader("Content-Length")) {
        bool ok = false;
        const QByteArray text = request.header("Content-Length");
        length = text.toLongLong(&ok);
        if (!ok || length < 0 || text.startsWith('+') || text.startsWith('-')) {
            return failed(400);
        }
    }
    if (length > limits.maxBodyBytes) {
        return failed(413);
    }
    const qsizetype bodyStart = headEnd + 4;
    if (buffer.size() - bodyStart < length) {
        return result; // still incomplete
    }
    request.body = buffer.mid(bodyStart, length);
    result.consumed = bodyStart + length;
    result.state = ParseResult::State::Complete;
    return result;
}

} // namespace tbserver
