#pragma once

#include "records/VisitorRecords.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace tallybrook {

// Sign-ins and sign-outs made while the backend could not be reached, kept in order in one private file per
// account until they are stored. The file survives a restart or a crash of the desk; one that cannot be read
// (damaged, or written by a newer desk) is set aside under another name, never lost, and reported once.
class PendingVisits final {
public:
    struct Item {
        enum class Kind { SignIn, SignOut };
        Kind kind = Kind::SignIn;
        NewVisitor visitor; // what to insert (SignIn), or its device record id and name (SignOut)
        QDateTime at;       // when it happened at the desk
        std::optional<QString> inviteId; // the invite a sign-in used, marked once the visitor is stored
        std::optional<QUuid> visitorId;  // a sign-out of a visitor the backend already has
        friend bool operator==(const Item &, const Item &) = default;
    };

    static constexpr int formatVersion = 1;

    // Nothing is read until load().
    explicit PendingVisits(QString folder = {});

    // Reads the file of this account. Returns the message to show once when a file had to be set aside.
    std::optional<QString> load(const QUuid &account);
    [[nodiscard]] const QUuid &account() const { return m_account; }
    [[nodiscard]] const QList<Item> &items() const { return m_items; }
    [[nodiscard]] bool isEmpty() const { return m_items.isEmpty(); }
    // Sign-ins still waiting; a sign-out of one of them does not make it less pending.
    [[nodiscard]] int pendingSignIns() const;
    [[nodiscard]] bool isPending(const QString &deviceRecordID) const;

    // Each change is written before it returns; false when the file could not be written.
    bool append(const Item &item);
    bool removeFirst();
    [[nodiscard]] QString filePath() const;

private:
    bool save();

    QString m_folder;
    QUuid m_account;
    QList<Item> m_items;
};

} // namespace tallybrook
