#include "ui/OnboardingView.h"

#include "cloud/CloudClient.h"
#include "platform/UrlOpener.h"
#include "ui/Icons.h"
#include "ui/Style.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <algorithm>
#include <array>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

struct Page {
    QString symbol; // empty: the application's own icon
    QString title;
    QString text;
    QStringList points;
    QString linkTitle;
    QString linkPath; // on the website
};

const std::array<Page, OnboardingView::pageCount> &pages() {
    static const std::array<Page, OnboardingView::pageCount> all{{
        {{},
         u"Welcome to Tallybrook for Linux"_s,
         u"Sign in visitors, print badges and see who's in the building, right from this computer."_s,
         {u"Works with Tallybrook on iPad"_s, u"One account across desktop, iPad and the web"_s},
         {},
         {}},
        {u"person.badge.plus"_s,
         u"Sign in visitors in seconds"_s,
         u"Add walk-ins from the desk and sign them out when they leave. Today shows who's on site now."_s,
         {u"See today's and this week's visitor counts"_s,
          u"Search the full visitor log by name, host or answer"_s,
          u"Export the log as a CSV or PDF report"_s},
         {},
         {}},
        {u"envelope.badge"_s,
         u"Invite guests ahead of time"_s,
         u"Send an invite by email before a visit. When your guest arrives, their details are already filled in."_s,
         {u"Set a day and time, or leave it open"_s, u"See who's still expected at a glance"_s},
         {},
         {}},
        {u"printer"_s,
         u"Print visitor badges"_s,
         u"Print a name badge at each sign-in, or whenever you need one."_s,
         {u"Made for Brother DK-2205 and DK-1234 labels"_s,
          u"Uses standard system printing, with no extra software"_s},
         {},
         {}},
        {u"bell.badge"_s,
         u"Let hosts know right away"_s,
         u"Hosts get a message in Slack, Microsoft Teams, Google Chat or Discord when their visitor arrives."_s,
         {u"An office channel, or a personal webhook for each employee"_s,
          u"Edit your form, employees and alerts here on this computer"_s},
         {},
         {}},
        {u"ipad.landscape"_s,
         u"Add an iPad kiosk"_s,
         u"Put Tallybrook on an iPad in your lobby, and visitors can sign themselves in. It uses this same account."_s,
         {u"Visitors who sign in on the iPad show up here within seconds"_s,
          u"The form, employees and alerts you set on this computer sync to the iPad"_s,
          u"The iPad can also take a photo and a signed agreement"_s},
         u"How to set up the iPad kiosk"_s,
         u"guides/kiosk-setup"_s},
    }};
    return all;
}

constexpr int dotHeight = 7;
constexpr int dotWidth = 7;
constexpr int currentDotWidth = 18;
constexpr int dotSpacing = 8;
constexpr auto slideDuration = 380; // ms

// The page's symbol in the accent colour on a faint disc of the same colour.
QPixmap symbolDisc(const QString &name, const QColor &accent, qreal dpr) {
    constexpr int disc = 88;
    constexpr int glyph = 40;
    QPixmap pixmap(QSize(disc, disc) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = accent;
    fill.setAlphaF(0.12);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(0, 0, disc, disc));
    const qreal inset = (disc - glyph) / 2.0;
    painter.drawPixmap(QPointF(inset, inset), tintedSymbol(name, QSize(glyph, glyph), accent, dpr));
    return pixmap;
}

// A flat button drawn as a line of text, the way a link reads.
QPushButton *linkButton(const QString &text, const QColor &color, QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    button->setAccessibleName(text);
    button->setFlat(true);
    button->setAutoDefault(false);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(
        u"QPushButton { border: none; padding: 0; color: %1; }"
        u"QPushButton:hover { text-decoration: underline; }"_s.arg(color.name(QColor::HexArgb)));
    return button;
}

// The page as it stands, without the window's background, so that it can fade over the page coming in.
QPixmap snapshotOf(QWidget *widget) {
    const qreal dpr = widget->devicePixelRatioF();
    QPixmap pixmap(widget->size() * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    widget->render(&pixmap, QPoint(), QRegion(), QWidget::DrawChildren);
    return pixmap;
}

QPropertyAnimation *slideAnimation(QObject *target, const QByteArray &property, const QVariant &from,
                                   const QVariant &to, QObject *parent) {
    auto *animation = new QPropertyAnimation(target, property, parent);
    animation->setDuration(slideDuration);
    animation->setEasingCurve(QEasingCurve::OutCubic);
    animation->setStartValue(from);
    animation->setEndValue(to);
    return animation;
}

} // namespace

PageDots::PageDots(int count, QWidget *parent)
    : QWidget(parent), m_count(count), m_grow(new QVariantAnimation(this)) {
    static const bool readAsText = [] {
        QAccessible::installFactory([](const QString &className, QObject *object) -> QAccessibleInterface * {
            if (className == u"tallybrook::ui::PageDots" && object->isWidgetType()) {
                return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::StaticText);
            }
            return nullptr;
        });
        return true;
    }();
    Q_UNUSED(readAsText);
    setObjectName(u"onboardingPageDots"_s);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_grow->setStartValue(0.0);
    m_grow->setEndValue(1.0);
    m_grow->setDuration(250);
    m_grow->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_grow, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
    setCurrent(0);
}

void PageDots::setCurrent(int index) {
    m_previous = m_current;
    m_current = qBound(0, index, m_count - 1);
    setAccessibleName(u"Page %1 of %2"_s.arg(m_current + 1).arg(m_count));
    m_grow->stop();
    if (isVisible() && m_previous != m_current) {
        m_grow->start();
    }
    update();
}

QSize PageDots::sizeHint() const {
    return {currentDotWidth + (m_count - 1) * (dotWidth + dotSpacing), dotHeight};
}

void PageDots::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor accent = accentColor(palette());
    QColor faint = palette().color(QPalette::WindowText);
    faint.setAlphaF(0.18);
    // While the dots change over, the old current one shrinks as the new one grows.
    const qreal progress =
        m_grow->state() == QAbstractAnimation::Running ? m_grow->currentValue().toReal() : 1.0;
    qreal x = (width() - sizeHint().width()) / 2.0;
    const qreal y = (height() - dotHeight) / 2.0;
    for (int i = 0; i < m_count; ++i) {
        qreal weight = 0;
        if (i == m_current) {
            weight = m_current == m_previous ? 1.0 : progress;
        } else if (i == m_previous) {
            weight = 1.0 - progress;
        }
        const qreal w = dotWidth + (currentDotWidth - dotWidth) * weight;
        QColor color;
        color.setRgbF(faint.redF() + (accent.redF() - faint.redF()) * weight,
                      faint.greenF() + (accent.greenF() - faint.greenF()) * weight,
                      faint.blueF() + (accent.blueF() - faint.blueF()) * weight,
                      faint.alphaF() + (accent.alphaF() - faint.alphaF()) * weight);
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(x, y, w, dotHeight), dotHeight / 2.0, dotHeight / 2.0);
        x += w + dotSpacing;
    }
}

OnboardingView::OnboardingView(Environment environment, QWidget *parent)
    : QWidget(parent), m_environment(environment), m_stage(new QWidget(this)),
      m_stageLayout(new QVBoxLayout(m_stage)),
      m_skip(linkButton(u"Skip"_s, secondaryTextColor(palette()), this)),
      m_back(new QPushButton(u"Back"_s, this)), m_dots(new PageDots(pageCount, this)),
      m_primary(new QPushButton(this)) {
    setObjectName(u"onboardingView"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *topBar = new QHBoxLayout;
    topBar->setContentsMargins(20, 20, 20, 0);
    // The bar keeps its height on the last page, where Skip is gone, so that the page does not move up.
    topBar->addSpacerItem(new QSpacerItem(0, 22, QSizePolicy::Minimum, QSizePolicy::Fixed));
    topBar->addStretch(1);
    m_skip->setObjectName(u"onboardingSkipButton"_s);
    m_skip->setAccessibleName(u"Skip Tour"_s);
    connect(m_skip, &QPushButton::clicked, this, &OnboardingView::finished);
    topBar->addWidget(m_skip);
    layout->addLayout(topBar);

    m_stage->setObjectName(u"onboardingStage"_s);
    m_stageLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stage, 1);

    auto *bottomBar = new QHBoxLayout;
    bottomBar->setContentsMargins(20, 20, 20, 20);
    bottomBar->setSpacing(12);
    for (QPushButton *button : {m_back, m_primary}) {
        button->setMinimumSize(140, 32);
    }
    m_back->setObjectName(u"onboardingBackButton"_s);
    m_back->setAccessibleName(u"Back"_s);
    m_back->setAutoDefault(false);
    // Hidden on the first page but still holding its place, so that the dots stay in the middle.
    QSizePolicy keepPlace = m_back->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    m_back->setSizePolicy(keepPlace);
    connect(m_back, &QPushButton::clicked, this, [this] { showPage(m_current - 1); });
    bottomBar->addWidget(m_back);
    bottomBar->addStretch(1);
    bottomBar->addWidget(m_dots);
    bottomBar->addStretch(1);
    // Named for what it does in the end: on the last page it finishes the tour.
    m_primary->setObjectName(u"onboardingFinishButton"_s);
    m_primary->setDefault(true);
    connect(m_primary, &QPushButton::clicked, this, &OnboardingView::advance);
    bottomBar->addWidget(m_primary);
    layout->addLayout(bottomBar);

    // Shortcuts rather than key handling: a focused button would take the arrows to move the focus.
    auto *left = new QShortcut(QKeySequence(Qt::Key_Left), this);
    auto *right = new QShortcut(QKeySequence(Qt::Key_Right), this);
    for (QShortcut *shortcut : {left, right}) {
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    }
    // Left goes back, Right forward (the other way round where the layout runs right to left); neither
    // finishes the tour, only the button does.
    connect(left, &QShortcut::activated, this, [this] { showPage(m_current + (isRightToLeft() ? 1 : -1)); });
    connect(right, &QShortcut::activated, this, [this] { showPage(m_current + (isRightToLeft() ? -1 : 1)); });

    setFocusProxy(m_primary);
    showPage(0);
}

void OnboardingView::advance() {
    if (m_current == pageCount - 1) {
        Q_EMIT finished();
    } else {
        showPage(m_current + 1);
    }
}

void OnboardingView::showPage(int index) {
    if (index < 0 || index >= pageCount || (m_page && index == m_current)) {
        return;
    }
    const bool last = index == pageCount - 1;
    // The focus stays in the bottom bar rather than falling to whatever comes next in the chain.
    QWidget *focus = QApplication::focusWidget();
    if (focus && ((m_page && m_page->isAncestorOf(focus)) || (focus == m_back && index == 0) ||
                  (focus == m_skip && last))) {
        m_primary->setFocus();
    }

    QPixmap outgoing;
    if (m_page) {
        endSlide();
        if (isVisible()) {
            outgoing = snapshotOf(m_page);
        }
        delete m_page;
    }
    m_current = index;
    m_page = buildPage(index);
    m_stageLayout->addWidget(m_page);
    // Now rather than when the layout gets round to it: the page is there as soon as it is the current one.
    m_page->show();

    m_skip->setVisible(!last);
    m_back->setEnabled(index > 0);
    m_back->setVisible(index > 0);
    m_dots->setCurrent(index);
    const QString primary = last ? u"Get Started"_s : u"Continue"_s;
    m_primary->setText(primary);
    m_primary->setAccessibleName(primary);

    if (!outgoing.isNull()) {
        slide(outgoing);
    }
}

QWidget *OnboardingView::buildPage(int index) {
    const Page &page = pages()[index];
    const QColor accent = accentColor(palette());
    auto *widget = new QWidget(m_stage);
    widget->setObjectName(u"onboardingPage"_s);
    auto *outer = new QVBoxLayout(widget);
    outer->setContentsMargins(48, 0, 48, 0);
    outer->setSpacing(0);
    outer->addStretch(1);

    auto *column = new QWidget(widget);
    column->setMaximumWidth(500);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);

    auto *icon = new QLabel(column);
    icon->setObjectName(u"onboardingIcon"_s);
    icon->setAlignment(Qt::AlignCenter);
    icon->setContentsMargins(0, 0, 0, 4);
    icon->setPixmap(page.symbol.isEmpty() ? applicationIconPixmap(96, devicePixelRatioF())
                                          : symbolDisc(page.symbol, accent, devicePixelRatioF()));
    layout->addWidget(icon);

    auto *title = new QLabel(page.title, column);
    title->setObjectName(u"onboardingTitle"_s);
    title->setTextFormat(Qt::PlainText);
    title->setAlignment(Qt::AlignCenter);
    title->setWordWrap(true);
    setTextStyle(title, TextStyle::LargeTitle, QFont::Bold);
    layout->addWidget(title);

    auto *text = new QLabel(page.text, column);
    text->setObjectName(u"onboardingText"_s);
    text->setTextFormat(Qt::PlainText);
    text->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);
    setTextStyle(text, TextStyle::Title3);
    setTextColor(text, secondaryTextColor(palette()));
    layout->addWidget(text);

    // The points read as one block under the centred text: as wide as the longest of them (or the column),
    // itself centred, its lines starting at the same edge.
    auto *points = new QWidget(column);
    auto *pointsLayout = new QVBoxLayout(points);
    pointsLayout->setContentsMargins(0, 6, 0, 0);
    pointsLayout->setSpacing(10);
    const QPixmap check = tintedSymbol(u"checkmark.circle.fill", QSize(16, 16), accent, devicePixelRatioF());
    int widest = 0;
    for (const QString &point : page.points) {
        auto *row = new QHBoxLayout;
        row->setSpacing(8);
        auto *label = new QLabel(point, points);
        label->setObjectName(u"onboardingPoint"_s);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        auto *mark = new QLabel(points);
        mark->setPixmap(check);
        // As tall as a line of the text, so that the mark sits on the first line when the point wraps.
        mark->setFixedSize(16, label->fontMetrics().height());
        mark->setAlignment(Qt::AlignCenter);
        row->addWidget(mark, 0, Qt::AlignTop);
        row->addWidget(label, 1);
        pointsLayout->addLayout(row);
        widest = qMax(widest, 16 + row->spacing() + label->fontMetrics().horizontalAdvance(point) + 2);
    }
    points->setMaximumWidth(widest);
    auto *pointsRow = new QHBoxLayout;
    pointsRow->addStretch(1);
    pointsRow->addWidget(points, 100);
    pointsRow->addStretch(1);
    layout->addLayout(pointsRow);

    // A row of its own, so that the column is as wide as the page allows up to its limit, and centred.
    auto *columnRow = new QHBoxLayout;
    columnRow->addStretch(1);
    columnRow->addWidget(column, 100);
    columnRow->addStretch(1);
    outer->addLayout(columnRow);
    outer->addStretch(1);

    if (!page.linkTitle.isEmpty()) {
        auto *link = linkButton(page.linkTitle, palette().color(QPalette::Link), widget);
        link->setObjectName(u"onboardingLinkButton"_s);
        link->setAccessibleDescription(u"Opens the guide in your web browser"_s);
        const QString path = page.linkPath;
        connect(link, &QPushButton::clicked, this,
                [this, path] { m_environment.urlOpener.openUrl(m_environment.cloud().websiteURL(path)); });
        outer->addWidget(link, 0, Qt::AlignHCenter);
        outer->addSpacing(12);
        // In reading order: after the page, before the bottom bar.
        setTabOrder(m_skip, link);
        setTabOrder(link, m_back);
    }
    return widget;
}

void OnboardingView::slide(const QPixmap &outgoing) {
    // The new page is laid out now, so that it slides in at the size it will keep.
    m_stageLayout->activate();
    auto *snapshot = new QLabel(m_stage);
    snapshot->setAttribute(Qt::WA_TransparentForMouseEvents);
    snapshot->setPixmap(outgoing);
    snapshot->setGeometry(m_page->geometry());
    snapshot->show();
    snapshot->raise();

    // The same in either direction: the new page comes in from the trailing edge, the old one leaves by the
    // leading edge.
    const int distance = m_stage->width() * (isRightToLeft() ? -1 : 1);
    auto *incoming = new QGraphicsOpacityEffect(m_page);
    m_page->setGraphicsEffect(incoming);
    auto *leaving = new QGraphicsOpacityEffect(snapshot);
    snapshot->setGraphicsEffect(leaving);

    auto *group = new QParallelAnimationGroup(this);
    const QPoint rest = m_page->pos();
    group->addAnimation(slideAnimation(m_page, "pos", rest + QPoint(distance, 0), rest, group));
    group->addAnimation(slideAnimation(incoming, "opacity", 0.0, 1.0, group));
    group->addAnimation(slideAnimation(snapshot, "pos", rest, rest - QPoint(distance, 0), group));
    group->addAnimation(slideAnimation(leaving, "opacity", 1.0, 0.0, group));
    connect(group, &QAbstractAnimation::finished, this, &OnboardingView::endSlide);
    m_slide = group;
    m_snapshot = snapshot;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void OnboardingView::endSlide() {
    if (m_slide) {
        m_slide->stop();
    }
    delete m_snapshot;
    if (m_page) {
        m_page->setGraphicsEffect(nullptr);
        m_stageLayout->invalidate();
        m_stageLayout->activate();
    }
}

} // namespace tallybrook::ui
