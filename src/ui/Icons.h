#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace tallybrook::ui {

// The desk's symbols, named as the design names them ("sun.max", "person.2", ...). Each maps to a
// freedesktop theme icon (fallback theme Adwaita); an SVG of our own stands in where the theme has none, so a
// symbol always draws. An unknown name gives a null icon and a warning.
[[nodiscard]] QIcon symbol(QStringView name);
// The theme icon a symbol maps to.
[[nodiscard]] QString themeIconName(QStringView name);
// Every symbol name of the table, in table order.
[[nodiscard]] QStringList symbolNames();

// The symbol drawn in one colour (the accent colour of a status screen, say), `size` in device-independent
// pixels at the given device pixel ratio.
[[nodiscard]] QPixmap tintedSymbol(QStringView name, const QSize &size, const QColor &color,
                                   qreal devicePixelRatio = 1.0);

// The application's own icon.
[[nodiscard]] QIcon applicationIcon();
[[nodiscard]] QPixmap applicationIconPixmap(int size, qreal devicePixelRatio = 1.0);

} // namespace tallybrook::ui
