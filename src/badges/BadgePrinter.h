#pragma once

#include "badges/BadgeDrawing.h"
#include "badges/LabelStock.h"
#include "platform/PrintSystem.h"

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <optional>

class QSettings;

namespace tallybrook {

// What became of a badge. Skipped is the desk's own answer when automatic printing is off; print() never
// gives it.
enum class BadgePrintOutcome { Printed, Skipped, Failed, NoPrinter };

// What the desk shows for an outcome: "The badge didn't print. Check the printer and try again." for Failed,
// "No printer is available. Choose one in Settings > Badges." for NoPrinter, nothing otherwise.
[[nodiscard]] QString badgePrintMessage(BadgePrintOutcome outcome);

// The one service that prints badges. It keeps this computer's badge preferences, reads them once at
// construction and stores every change at once; printing blocks the GUI thread until the job is handed over.
class BadgePrinter final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool autoPrint READ autoPrint WRITE setAutoPrint NOTIFY autoPrintChanged)
    Q_PROPERTY(tallybrook::LabelStock stock READ stock WRITE setStock NOTIFY stockChanged)
    Q_PROPERTY(QString printerName READ printerName WRITE setPrinterName NOTIFY printerNameChanged)
    Q_PROPERTY(bool showDialog READ showDialog WRITE setShowDialog NOTIFY showDialogChanged)

public:
    BadgePrinter(QSettings &defaults, platform::PrintSystem &printSystem, QObject *parent = nullptr);
    ~BadgePrinter() override;
    Q_DISABLE_COPY_MOVE(BadgePrinter)

    // Print a badge at each sign-in ("PrintLabel").
    [[nodiscard]] bool autoPrint() const { return m_autoPrint; }
    void setAutoPrint(bool autoPrint);
    // The loaded label roll ("LabelType", its raw value).
    [[nodiscard]] LabelStock stock() const { return m_stock; }
    void setStock(LabelStock stock);
    // Empty for the system's default printer ("BadgePrinterName"). A name that is not installed is kept, so
    // badges print again when the printer returns.
    [[nodiscard]] const QString &printerName() const { return m_printerName; }
    void setPrinterName(const QString &printerName);
    // Show the print dialog each time ("BadgeShowPrintDialog").
    [[nodiscard]] bool showDialog() const { return m_showDialog; }
    void setShowDialog(bool showDialog);

    [[nodiscard]] QSettings &defaults() const { return m_defaults; }
    [[nodiscard]] platform::PrintSystem &printSystem() const { return m_printSystem; }
    // For the printer picker: the same list print() consults.
    [[nodiscard]] QStringList installedPrinterNames() const;

    // The locale and time zone of the date line; the user's current ones unless set here.
    void setDateStyle(const QLocale &locale, const QTimeZone &zone);
    // The badge print() would print now for this visitor, on the current stock.
    [[nodiscard]] Badge badgeFor(const QString &visitorName, const QDateTime &visitedAt) const;

    // Prints one badge now: to the chosen printer, else the default one, with the dialog when showDialog is
    // on.
    BadgePrintOutcome print(const QString &visitorName, const QDateTime &visitedAt);

    // "Visitor badge - " and the visitor's name.
    [[nodiscard]] static QString jobTitle(const QString &visitorName);

Q_SIGNALS:
    void autoPrintChanged();
    void stockChanged();
    void printerNameChanged();
    void showDialogChanged();

private:
    void store(const QString &key, const QVariant &value);

    QSettings &m_defaults;
    platform::PrintSystem &m_printSystem;
    bool m_autoPrint = false;
    LabelStock m_stock = LabelStock::Dk2205;
    QString m_printerName;
    bool m_showDialog = false;
    std::optional<QLocale> m_locale;
    std::optional<QTimeZone> m_timeZone;
};

} // namespace tallybrook
