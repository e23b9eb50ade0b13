// The desk's decoders of what the backend answers: visitor rows, invites, the kiosk and alert settings, and
// the timestamp reader. The first byte picks the decoder; the rest is the body.

#include "FuzzCheck.h"
#include "records/DeskError.h"
#include "records/InviteRecords.h"
#include "records/JsonRead.h"
#include "records/SetupRecords.h"
#include "records/Timestamps.h"
#include "records/VisitorRecords.h"

#include <QCoreApplication>
#include <QTimeZone>

using namespace tallybrook;

namespace {

// Settings the desk saves read back as they were, so an edit never changes what it did not touch.
template<class Settings>
void decodeSettings(const QByteArray &body) {
    const Settings settings = Settings::fromJson(json::parseObject(body));
    FUZZ_CHECK(Settings::fromJson(settings.toJson()) == settings);
}

void decodeTimestamp(const QByteArray &body) {
    const std::optional<QDateTime> instant = readTimestamp(QString::fromUtf8(body));
    if (instant) {
        FUZZ_CHECK(instant->isValid() && instant->timeSpec() == Qt::UTC);
        // Whole seconds survive being written and read again.
        const QDateTime seconds = instant->addMSecs(-instant->time().msec());
        FUZZ_CHECK(readTimestamp(writeTimestamp(*instant)) == seconds);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const QByteArray body(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    const QDateTime now(QDate(2026, 12, 7), QTime(9, 41), Qt::UTC);
    const QTimeZone zone("Europe/Oslo");
    try {
        switch (data[0] % 5) {
        case 0:
            for (const QJsonValue &row : json::parseArray(body)) {
                const VisitorRow visitor = VisitorRow::fromJson(row);
                FUZZ_CHECK(visitor.signedInAt.isValid());
                FUZZ_CHECK(!visitor.signedOutAt || visitor.signedOutAt->isValid());
            }
            break;
        case 1:
            for (const QJsonValue &row : json::parseArray(body)) {
                const Invite invite = Invite::fromJson(row);
                const InviteStatus status = invite.status(now, zone);
                FUZZ_CHECK(status.kind == InviteStatus::Kind::SignedIn || !status.signedInAt);
                (void)invite.visitDescription(QLocale(QLocale::English, QLocale::UnitedKingdom));
                (void)invite.isPast(now, zone);
            }
            break;
        case 2:
            decodeSettings<KioskSettings>(body);
            break;
        case 3:
            decodeSettings<NotificationSettings>(body);
            break;
        default:
            decodeTimestamp(body);
            break;
        }
    } catch (const DecodeError &) {
        // An answer the desk cannot read is reported as such; only a crash or a broken check is a finding.
    }
    return 0;
}
