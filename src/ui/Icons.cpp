#include "ui/Icons.h"

#include <QLoggingCategory>
#include <QPainter>

#include <array>

namespace tallybrook::ui {

Q_LOGGING_CATEGORY(lcIcons, "tallybrook.ui.icons")

using namespace Qt::StringLiterals;

namespace {

struct SymbolMapping {
    QStringView name;      // as the design names it
    QStringView themeName; // freedesktop icon naming, symbolic variant
};

// The one table from the design's symbols to theme icons. Our own SVG for each lives in the resources under
// the design's name.
constexpr std::array symbols{
    SymbolMapping{u"sun.max", u"weather-clear-symbolic"},
    SymbolMapping{u"person.2", u"system-users-symbolic"},
    SymbolMapping{u"envelope", u"mail-unread-symbolic"},
    SymbolMapping{u"person.crop.rectangle.stack", u"x-office-address-book-symbolic"},
    SymbolMapping{u"sidebar.left", u"sidebar-show-symbolic"},
    SymbolMapping{u"person.badge.plus", u"contact-new-symbolic"},
    SymbolMapping{u"exclamationmark.triangle", u"dialog-warning-symbolic"},
    SymbolMapping{u"arrow.down.circle", u"folder-download-symbolic"},
    SymbolMapping{u"person.2.slash", u"system-log-out-symbolic"},
    SymbolMapping{u"building.2", u"user-home-symbolic"},
    SymbolMapping{u"printer", u"printer-symbolic"},
    SymbolMapping{u"person.crop.circle", u"avatar-default-symbolic"},
    SymbolMapping{u"square.and.arrow.up", u"document-send-symbolic"},
    SymbolMapping{u"rectangle.portrait.and.arrow.right", u"application-exit-symbolic"},
    SymbolMapping{u"plus", u"list-add-symbolic"},
    SymbolMapping{u"ellipsis.circle", u"view-more-symbolic"},
    SymbolMapping{u"pencil", u"document-edit-symbolic"},
    SymbolMapping{u"minus", u"list-remove-symbolic"},
    SymbolMapping{u"bell", u"preferences-system-notifications-symbolic"},
    SymbolMapping{u"bell.badge", u"notification-new-symbolic"},
    SymbolMapping{u"info.circle", u"dialog-information-symbolic"},
    SymbolMapping{u"list.bullet.rectangle", u"view-list-symbolic"},
    SymbolMapping{u"envelope.badge", u"mail-message-new-symbolic"},
    SymbolMapping{u"ipad.landscape", u"computer-apple-ipad-symbolic"},
    SymbolMapping{u"checkmark.circle.fill", u"emblem-ok-symbolic"},
};

const SymbolMapping *mappingOf(QStringView name) {
    for (const SymbolMapping &mapping : symbols) {
        if (mapping.name == name) {
            return &mapping;
        }
    }
    return nullptr;
}

void useFallbackTheme() {
    static const bool once = [] {
        if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == u"hicolor") {
            QIcon::setFallbackThemeName(u"Adwaita"_s);
        }
        return true;
    }();
    Q_UNUSED(once);
}

} // namespace

QIcon symbol(QStringView name) {
    const SymbolMapping *mapping = mappingOf(name);
    if (!mapping) {
        qCWarning(lcIcons) << "no icon for the symbol" << name;
        return {};
    }
    useFallbackTheme();
    const QIcon own(u":/tallybrook/icons/"_s + name + u".svg"_s);
    return QIcon::fromTheme(mapping->themeName.toString(), own);
}

QString themeIconName(QStringView name) {
    const SymbolMapping *mapping = mappingOf(name);
    return mapping ? mapping->themeName.toString() : QString();
}

QStringList symbolNames() {
    QStringList names;
    for (const SymbolMapping &mapping : symbols) {
        names.append(mapping.name.toString());
    }
    return names;
}

QPixmap tintedSymbol(QStringView name, const QSize &size, const QColor &color, qreal devicePixelRatio) {
    const QIcon icon = symbol(name);
    QPixmap pixmap = icon.pixmap(size, devicePixelRatio);
    if (pixmap.isNull()) {
        return pixmap;
    }
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(QPointF(0, 0), pixmap.deviceIndependentSize()), color);
    return pixmap;
}

QIcon applicationIcon() {
    return QIcon(u":/tallybrook/tallybrook.svg"_s);
}

QPixmap applicationIconPixmap(int size, qreal devicePixelRatio) {
    return applicationIcon().pixmap(QSize(size, size), devicePixelRatio);
}

} // namespace tallybrook::ui
