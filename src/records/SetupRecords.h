#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace tallybrook {

// The kind of a sign-in form question; its text is what the server and the iPad kiosk store.
enum class FieldType { PlainText, Numeric, Email, Phone };

// "Plain Text", "Numeric", "Email", "Phone".
[[nodiscard]] QString fieldTypeText(FieldType type);
[[nodiscard]] std::optional<FieldType> fieldTypeFromText(QStringView text);

// One question of the sign-in form.
struct KioskField {
    int slot = 0; // position and identity; slot 0 is the visitor's name
    QString label;
    // Kept as text so a kind this desk doesn't know (added by a newer kiosk) survives a save.
    QString type;
    bool required = false;
    bool employeeList = false; // the answer is picked from the employee list (the host)

    [[nodiscard]] static KioskField fromJson(const QJsonValue &jsonValue);
    [[nodiscard]] QJsonObject toJson() const;

    [[nodiscard]] std::optional<FieldType> fieldType() const { return fieldTypeFromText(type); }

    friend bool operator==(const KioskField &, const KioskField &) = default;
};

// The account's sign-in form setup, shared with the iPad kiosk app.
struct KioskSettings {
    QList<KioskField> fields;
    QStringList employees;
    std::optional<QString> placeName;

    [[nodiscard]] static KioskSettings fromJson(const QJsonValue &jsonValue);
    [[nodiscard]] QJsonObject toJson() const;

    friend bool operator==(const KioskSettings &, const KioskSettings &) = default;
};

// Host alerts: where they go and for which events.
struct NotificationSettings {
    QString officeWebhook; // for alerts without a host-specific address; may be empty
    bool notifySignIn = false;
    bool notifySignOut = false;
    QMap<QString, QString> employeeWebhooks; // host name -> that host's webhook address

    [[nodiscard]] static NotificationSettings fromJson(const QJsonValue &jsonValue);
    [[nodiscard]] QJsonObject toJson() const;

    friend bool operator==(const NotificationSettings &, const NotificationSettings &) = default;
};

} // namespace tallybrook
