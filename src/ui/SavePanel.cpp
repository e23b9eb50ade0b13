#include "ui/SavePanel.h"

#include <QFileDialog>
#include <QPointer>
#include <QQueue>
#include <QTimer>

namespace tallybrook::ui {

namespace {

QQueue<std::optional<QString>> &nextFileNames() {
    static QQueue<std::optional<QString>> names;
    return names;
}

} // namespace

void SavePanel::setNextFileName(const std::optional<QString> &path) {
    nextFileNames().enqueue(path);
}

void SavePanel::clearNextFileNames() {
    nextFileNames().clear();
}

void SavePanel::choose(QWidget *parent, const Request &request, Done done) {
    if (!nextFileNames().isEmpty()) {
        QTimer::singleShot(0, parent,
                           [done = std::move(done), path = nextFileNames().dequeue()] { done(path); });
        return;
    }
    auto *dialog = new QFileDialog(parent, request.title);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(request.nameFilter);
    dialog->setDefaultSuffix(request.suffix);
    dialog->selectFile(request.proposedName + u'.' + request.suffix);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done = std::move(done)](int result) {
        const QStringList chosen = dialog->selectedFiles();
        done(result == QDialog::Accepted && !chosen.isEmpty() ? std::optional(chosen.constFirst())
                                                              : std::nullopt);
    });
    dialog->open();
}

} // namespace tallybrook::ui
