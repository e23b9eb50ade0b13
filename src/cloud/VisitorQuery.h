#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace tallybrook {

// What the visitors screen asks of the log: free text and an optional sign-in window [from, to).
struct VisitorQuery {
    QString search;
    std::optional<QDateTime> from;
    std::optional<QDateTime> to;

    friend bool operator==(const VisitorQuery &, const VisitorQuery &) = default;

    // The REST filters, each only when it applies: from, to, then the search.
    [[nodiscard]] QList<std::pair<QString, QString>> queryItems() const;

    // Lower-cased, LIKE wildcards and the escape character escaped, wrapped in "%": "50%_off" ->
    // "%50\%\_off%".
    [[nodiscard]] static QString searchPattern(const QString &search);
};

} // namespace tallybrook
