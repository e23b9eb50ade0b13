#include "cloud/VisitorQuery.h"

#include "records/Timestamps.h"

namespace tallybrook {

using namespace Qt::StringLiterals;

QList<std::pair<QString, QString>> VisitorQuery::queryItems() const {
    QList<std::pair<QString, QString>> items;
    if (from) {
        items.append({u"signed_in_at"_s, u"gte."_s + writeTimestamp(*from)});
    }
    if (to) {
        items.append({u"signed_in_at"_s, u"lt."_s + writeTimestamp(*to)});
    }
    if (!search.trimmed().isEmpty()) {
        items.append({u"search_text"_s, u"ilike."_s + searchPattern(search)});
    }
    return items;
}

QString VisitorQuery::searchPattern(const QString &search) {
    const QString lowered = search.trimmed().toLower();
    QString pattern;
    pattern.reserve(lowered.size() + 8);
    pattern += u'%';
    for (const QChar c : lowered) {
        if (c == u'\\' || c == u'%' || c == u'_') {
            pattern += u'\\';
        }
        pattern += c;
    }
    pattern += u'%';
    return pattern;
}

} // namespace tallybrook
