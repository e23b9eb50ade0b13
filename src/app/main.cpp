#include "app/SystemServices.h"
#include "app/TallybrookApp.h"
#include "ui/Icons.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    using namespace Qt::StringLiterals;
    QApplication application(argc, argv);
    QApplication::setApplicationName(u"Tallybrook"_s);
    QApplication::setApplicationVersion(tallybrook::TallybrookApp::runningVersion());
    QGuiApplication::setDesktopFileName(QStringLiteral(TALLYBROOK_APP_ID));
    QApplication::setWindowIcon(tallybrook::ui::applicationIcon());

    tallybrook::SystemServices services;
    tallybrook::TallybrookApp desk(services.platform());
    desk.showMainWindow();
    return QApplication::exec();
}
