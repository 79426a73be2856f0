// Starts the program: the window is all there is.
#include "frmFinderMain.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Samelyn"));
    QApplication::setApplicationVersion(QStringLiteral(SAMELYN_VERSION));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Samelyn"));
    QGuiApplication::setDesktopFileName(QStringLiteral(SAMELYN_APP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/samelyn.svg")));

    try {
        frmFinderMain window;
        window.show();
        return QApplication::exec();
    } catch (const std::exception &error) {
        // The window could not even be made (its scratch folder, say).
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Samelyn"),
                        QStringLiteral("Error: ") + QString::fromStdString(error.what()), QMessageBox::Ok);
        box.exec();
        return 1;
    }
}
