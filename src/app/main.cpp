#include "app/SingleInstance.h"
#include "app/StartupTrace.h"
#include "app/SystemServices.h"
#include "app/TallybrookApp.h"
#include "model/AppModel.h"
#include "ui/Icons.h"

#include <QApplication>
#include <QMainWindow>

#include <memory>

int main(int argc, char *argv[]) {
    using namespace Qt::StringLiterals;
    QApplication application(argc, argv);
    QApplication::setApplicationName(u"Tallybrook"_s);
    QApplication::setApplicationVersion(tallybrook::TallybrookApp::runningVersion());
    QGuiApplication::setDesktopFileName(QStringLiteral(TALLYBROOK_APP_ID));
    QApplication::setWindowIcon(tallybrook::ui::applicationIcon());

    // Before the keyring and the network: a second launch only brings the running desk forward.
    tallybrook::SingleInstance instance(
        tallybrook::SingleInstance::defaultName(QStringLiteral(TALLYBROOK_APP_ID)));
    if (!instance.claim()) {
        return 0;
    }

    tallybrook::SystemServices services;
    tallybrook::TallybrookApp desk(services.platform());
    QObject::connect(&instance, &tallybrook::SingleInstance::activationRequested, &desk,
                     &tallybrook::TallybrookApp::showMainWindow);
    std::unique_ptr<tallybrook::StartupTrace> trace;
    if (tallybrook::StartupTrace::isWanted()) {
        trace = std::make_unique<tallybrook::StartupTrace>(desk.mainWindow(), desk.model());
    }
    desk.showMainWindow();
    return QApplication::exec();
}
