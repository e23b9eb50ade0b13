#include "ui/InviteCodeSheet.h"

#include "ui/SheetParts.h"
#include "ui/Style.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <qrencode.h>

#include <memory>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

QImage qrSymbol(const QByteArray &message) {
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(message.size()), reinterpret_cast<const unsigned char *>(message.constData()),
                          0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!code) {
        return {};
    }
    constexpr int quiet = 4;
    const int modules = code->width;
    QImage image(modules + 2 * quiet, modules + 2 * quiet, QImage::Format_Grayscale8);
    image.fill(255);
    for (int y = 0; y < modules; ++y) {
        uchar *line = image.scanLine(y + quiet) + quiet;
        for (int x = 0; x < modules; ++x) {
            // The lowest bit of each byte is the module's colour; the others say what the module is part of.
            line[x] = (code->data[y * modules + x] & 1) ? 0 : 255;
        }
    }
    return image;
}

InviteCodeSheet::InviteCodeSheet(const Invite &invite, const QUrl &link, QWidget *parent) : QDialog(parent) {
    QVBoxLayout *layout = beginSheet(this, u"inviteCodeSheet"_s, u"Invite Code"_s, 24);

    auto *name = new QLabel(invite.visitorName, this);
    name->setObjectName(u"guestName"_s);
    name->setTextFormat(Qt::PlainText);
    setTextStyle(name, TextStyle::Title2, QFont::DemiBold);
    layout->addWidget(name, 0, Qt::AlignHCenter);

    const QImage symbol = qrSymbol(link.toString(QUrl::FullyEncoded).toUtf8());
    if (!symbol.isNull()) {
        auto *code = new QLabel(this);
        code->setObjectName(u"inviteCode"_s);
        code->setAccessibleName(u"QR code of the invite link"_s);
        code->setToolTip(link.toString());
        // Modules scaled by repeating pixels, never blended: a blurred edge is what a phone's camera
        // misreads.
        const qreal ratio = devicePixelRatioF();
        const int pixels = qRound(codeSide * ratio);
        QPixmap pixmap =
            QPixmap::fromImage(symbol.scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        pixmap.setDevicePixelRatio(ratio);
        code->setPixmap(pixmap);
        code->setFixedSize(codeSide, codeSide);
        layout->addWidget(code, 0, Qt::AlignHCenter);
    }

    auto *done = new QPushButton(u"Done"_s, this);
    done->setObjectName(u"doneButton"_s);
    done->setAccessibleName(u"Done"_s);
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(done, 0, Qt::AlignHCenter);
}

} // namespace tallybrook::ui
