#include "ui/DeskSection.h"

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

QList<DeskSection> allDeskSections() {
    return {DeskSection::Today, DeskSection::Visitors, DeskSection::Invites, DeskSection::Employees};
}

QString rawValue(DeskSection section) {
    switch (section) {
    case DeskSection::Today:
        return u"Today"_s;
    case DeskSection::Visitors:
        return u"Visitors"_s;
    case DeskSection::Invites:
        return u"Invites"_s;
    case DeskSection::Employees:
        return u"Employees"_s;
    }
    return {};
}

std::optional<DeskSection> deskSectionFromRawValue(QStringView raw) {
    for (const DeskSection section : allDeskSections()) {
        if (rawValue(section) == raw) {
            return section;
        }
    }
    return std::nullopt;
}

QString symbolName(DeskSection section) {
    switch (section) {
    case DeskSection::Today:
        return u"sun.max"_s;
    case DeskSection::Visitors:
        return u"person.2"_s;
    case DeskSection::Invites:
        return u"envelope"_s;
    case DeskSection::Employees:
        return u"person.crop.rectangle.stack"_s;
    }
    return {};
}

} // namespace tallybrook::ui
