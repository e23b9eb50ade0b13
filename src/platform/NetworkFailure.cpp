#include "platform/NetworkFailure.h"

namespace tallybrook::platform {

using namespace Qt::StringLiterals;

bool isTransportError(QNetworkReply::NetworkError error) {
    return error != QNetworkReply::NoError && int(error) < 200;
}

QString transportFailureText(const QNetworkReply &reply, bool cancelledByDesk) {
    switch (reply.error()) {
    case QNetworkReply::ConnectionRefusedError:
        return u"Could not connect to the server."_s;
    case QNetworkReply::RemoteHostClosedError:
        return u"The network connection was lost."_s;
    case QNetworkReply::HostNotFoundError:
        return u"A server with the specified hostname could not be found."_s;
    case QNetworkReply::TimeoutError:
        return u"The request timed out."_s;
    case QNetworkReply::OperationCanceledError:
        // Qt cancels a request whose transfer time-out ran out.
        return cancelledByDesk ? u"The request was cancelled."_s : u"The request timed out."_s;
    case QNetworkReply::SslHandshakeFailedError:
        return u"An SSL error has occurred and a secure connection to the server cannot be made."_s;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return u"The Internet connection appears to be offline."_s;
    case QNetworkReply::TooManyRedirectsError:
        return u"Too many HTTP redirects occurred."_s;
    default:
        break;
    }
    const QString text = reply.errorString();
    return text.isEmpty() ? u"The network connection was lost."_s : text;
}

} // namespace tallybrook::platform
