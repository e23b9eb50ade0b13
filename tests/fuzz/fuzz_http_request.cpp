// The server's HTTP/1.1 request parser, on whatever bytes a client sends.

#include "FuzzCheck.h"
#include "http/HttpParser.h"

using tbserver::ParseResult;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray buffer(reinterpret_cast<const char *>(data), qsizetype(size));
    // Small limits, so the fuzzer reaches the size refusals too.
    const tbserver::ParserLimits limits{512, 2048};
    const ParseResult result = tbserver::parseRequest(buffer, limits);
    switch (result.state) {
    case ParseResult::State::Complete: {
        FUZZ_CHECK(result.consumed > 0 && result.consumed <= buffer.size());
        FUZZ_CHECK(!result.request.method.isEmpty() && result.request.path.startsWith('/'));
        FUZZ_CHECK(result.request.body.size() <= limits.maxBodyBytes);
        // The request reads the same without what follows it on the connection, and one byte less is not
        // yet a request: otherwise two readers of one stream could disagree on where a request ends.
        const ParseResult alone = tbserver::parseRequest(buffer.left(result.consumed), limits);
        FUZZ_CHECK(alone.state == ParseResult::State::Complete && alone.consumed == result.consumed);
        FUZZ_CHECK(alone.request.body == result.request.body &&
                   alone.request.headers == result.request.headers);
        const ParseResult shorter = tbserver::parseRequest(buffer.left(result.consumed - 1), limits);
        FUZZ_CHECK(shorter.state != ParseResult::State::Complete);
        break;
    }
    case ParseResult::State::Failed:
        FUZZ_CHECK(result.failureStatus == 400 || result.failureStatus == 413 ||
                   result.failureStatus == 431 || result.failureStatus == 501);
        FUZZ_CHECK(!result.keepAlive);
        break;
    case ParseResult::State::Incomplete:
        // Waiting for more is bounded: a head that never ends is refused once it passes the limit.
        FUZZ_CHECK(buffer.contains("\r\n\r\n") || buffer.size() <= limits.maxHeaderBytes);
        break;
    }
    return 0;
}
