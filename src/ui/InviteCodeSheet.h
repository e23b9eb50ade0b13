#pragma once

#include "records/InviteRecords.h"

#include <QDialog>
#include <QImage>
#include <QUrl>

namespace tallybrook::ui {

// The QR symbol of `message` at error-correction level M: one pixel a module, black on white, with the
// standard quiet zone of four modules. Null when no symbol can hold the message.
[[nodiscard]] QImage qrSymbol(const QByteArray &message);

// The guest's name and the QR code of their invite link, for the guest to scan with a phone.
class InviteCodeSheet final : public QDialog {
    Q_OBJECT

public:
    InviteCodeSheet(const Invite &invite, const QUrl &link, QWidget *parent = nullptr);

    static constexpr int codeSide = 260;
};

} // namespace tallybrook::ui
