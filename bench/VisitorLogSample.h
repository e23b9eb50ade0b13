#pragma once

#include "records/VisitorRecords.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>

namespace tallybrook::bench {

// A visitor log as the desk sees it: a few hosts, six answers a visitor, one in ten still on site, now and
// then a name that needs quoting or guarding.
inline QList<VisitorRow> sampleVisitorLog(int count) {
    using namespace Qt::StringLiterals;
    static const QString hosts[] = {u"Ann Lee"_s, u"Bo Martínez"_s, u"Łukasz Nowak"_s, u"Priya Raman"_s};
    static const QString labels[] = {u"Company"_s,          u"Phone"_s, u"Email"_s, u"Purpose of visit"_s,
                                     u"Car registration"_s, u"Notes"_s};
    QList<VisitorRow> rows;
    rows.reserve(count);
    const QDateTime start({2025, 1, 6}, {8, 0}, Qt::UTC);
    for (int i = 0; i < count; ++i) {
        VisitorRow row;
        row.id = QUuid::createUuid();
        row.visitorName = i % 50 == 0 ? u"=\"Zoë\" O'Brien, Jr."_s : u"Visitor %1 Quinn"_s.arg(i);
        row.hostName = hosts[i % 4];
        const QString values[] = {u"Acme Widgets Ltd"_s,
                                  u"+44 20 7946 %1"_s.arg(i % 10000, 4, 10, QChar(u'0')),
                                  u"visitor%1@example.com"_s.arg(i),
                                  u"Quarterly review, then lunch"_s,
                                  u"AB%1 CDE"_s.arg(i % 100),
                                  i % 7 == 0 ? u"Needs a parking permit; arriving by the \"back\" gate"_s
                                             : QString()};
        for (int a = 0; a < 6; ++a)
            row.answers.append({labels[a], values[a]});
        row.signedInAt = start.addSecs(qint64(i) * 97);
        if (i % 10 != 0)
            row.signedOutAt = row.signedInAt.addSecs(3600 + i % 1800);
        row.listName = u"Visitors"_s;
        row.deviceName = u"Front desk iPad"_s;
        rows.append(row);
    }
    return rows;
}

// The fastest of `runs` runs, in milliseconds.
inline double bestOf(int runs, const std::function<void()> &work) {
    double best = std::numeric_limits<double>::max();
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

// The process's peak resident set so far, in MB (VmHWM of /proc/self/status); -1 where there is none.
inline double peakResidentMB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').constFirst().toDouble() / 1024.0;
    }
    return -1;
}

} // namespace tallybrook::bench
