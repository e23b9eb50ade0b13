#include "records/EmailAddress.h"

#include <QRegularExpression>

namespace tallybrook {

using namespace Qt::StringLiterals;

bool isEmailAddress(const QString &text) {
    // Without Unicode properties \s is ASCII white space only.
    static const QRegularExpression pattern(
        u"^[^\\s\\x{200B}\\x{FEFF}@]+@[^\\s\\x{200B}\\x{FEFF}@]+\\.[^\\s\\x{200B}\\x{FEFF}@]+$"_s,
        QRegularExpression::UseUnicodePropertiesOption);
    return pattern.match(text).hasMatch();
}

} // namespace tallybrook
