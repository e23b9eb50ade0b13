// The check of a webhook address the receptionist types or the backend stores, before the desk posts to it.

#include "FuzzCheck.h"
#include "notify/Webhook.h"

#include <QCoreApplication>

using namespace tallybrook;
using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QUrl> url = validatedWebhookURL(text);
    if (url) {
        // Alerts carry visitors' names: only ever over TLS, to a named host.
        FUZZ_CHECK(url->isValid() && url->scheme().compare(u"https"_s, Qt::CaseInsensitive) == 0);
        FUZZ_CHECK(!url->host().isEmpty());
        // What was accepted is accepted again as stored and read back.
        const std::optional<QUrl> again = validatedWebhookURL(url->toString(QUrl::FullyEncoded));
        FUZZ_CHECK(again && again->host() == url->host());
    }
    return 0;
}
