#include "app/emulator_app.h"
#include "app/window_feedback.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromLatin1(PROFILE_COMPANY));
    QApplication::setApplicationName(QString::fromLatin1(PROFILE_APPLICATION));
    InstallWindowFeedback();
    return theApp.InitInstance();
}
