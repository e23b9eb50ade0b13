#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace tallybrook::ui {

// The four sections of the desk's sidebar, in sidebar order. The raw value is also the title.
enum class DeskSection { Today, Visitors, Invites, Employees };

[[nodiscard]] QList<DeskSection> allDeskSections();
[[nodiscard]] QString rawValue(DeskSection section);
[[nodiscard]] std::optional<DeskSection> deskSectionFromRawValue(QStringView raw);
[[nodiscard]] inline QString title(DeskSection section) {
    return rawValue(section);
}
// The symbol name (see Icons.h).
[[nodiscard]] QString symbolName(DeskSection section);

} // namespace tallybrook::ui
