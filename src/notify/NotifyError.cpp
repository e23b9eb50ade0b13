#include "notify/NotifyError.h"

using namespace Qt::StringLiterals;

namespace tallybrook {

QString NotifyError::message() const {
    if (m_kind == Kind::Http)
        return u"The service answered with error "_s + QString::number(m_status) +
               u". Check the webhook URL."_s;
    return m_text;
}

} // namespace tallybrook
