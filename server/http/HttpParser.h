#pragma once

#include "http/HttpMessage.h"

namespace tbserver {

// Parses one request from the front of `buffer`. A pure function: it never touches a socket, so every odd
// input can be tested directly.
struct ParseResult {
    enum class State { Incomplete, Complete, Failed };
    State state = State::Incomplete;
    HttpRequest request;
    qsizetype consumed = 0; // bytes of `buffer` the complete request used
    int failureStatus = 0;  // 400, 413, 431, 501 when Failed
    bool keepAlive = true;
};

struct ParserLimits {
    qsizetype maxHeaderBytes = 32 * 1024;
    qsizetype maxBodyBytes = 1024 * 1024;
};

[[nodiscard]] ParseResult parseRequest(const QByteArray &buffer, const ParserLimits &limits = {});

} // namespace tbserver
