#include "cloud/CloudRequest.h"

namespace tallybrook {

namespace {

QByteArray find(const HeaderList &headers, QByteArrayView name) {
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

} // namespace

void CloudRequest::setHeader(const QByteArray &name, const QByteArray &value) {
    for (auto &[key, existing] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            existing = value;
            return;
        }
    }
    headers.append({name, value});
}

QByteArray CloudRequest::header(QByteArrayView name) const {
    return find(headers, name);
}

QByteArray CloudResponse::header(QByteArrayView name) const {
    return find(headers, name);
}

} // namespace tallybrook
