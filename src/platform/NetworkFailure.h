#pragma once

#include <QNetworkReply>
#include <QString>

namespace tallybrook::platform {

// Network-layer and proxy failures; content, protocol and server errors come with an HTTP answer.
[[nodiscard]] bool isTransportError(QNetworkReply::NetworkError error);

// What the desk says about a request that got no answer. Qt's own texts ("Operation canceled" for a time-out)
// would puzzle the person at the desk; these say what happened. `cancelledByDesk`: the desk aborted the
// request itself, so an OperationCanceledError is not a time-out.
[[nodiscard]] QString transportFailureText(const QNetworkReply &reply, bool cancelledByDesk = false);

} // namespace tallybrook::platform
