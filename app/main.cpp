#include "app/SignalWatcher.h"
#include "app/TesterShell.h"
#include "core/TesterController.h"
#include "ui/Glyphs.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vibrelle-api-tester"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vibrelle API Tester"));
    QApplication::setApplicationVersion(QStringLiteral(VIBRELLE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("vibrelle-api-tester"));

    // Signals that arrive before the window is shown terminate at once (no controller yet).
    vibrelle::SignalWatcher signalWatcher;

    vibrelle::TesterController controller(QString::fromLatin1(vibrelle::TesterController::defaultAddress));
    vibrelle::TesterShell shell(&controller, std::make_shared<vibrelle::SystemTimeSource>(),
                                [] { QCoreApplication::exit(0); });
    QObject::connect(&signalWatcher, &vibrelle::SignalWatcher::terminationRequested, &shell,
                     &vibrelle::TesterShell::quit);

    shell.window()->show();
    // The icon comes once the window is up: looking it up among the installed icon themes and
    // drawing the fallback's seven sizes would otherwise delay the window's first appearance.
    QTimer::singleShot(0, &shell, [] {
        QApplication::setWindowIcon(
            QIcon::fromTheme(QStringLiteral("vibrelle-api-tester"), vibrelle::ui::applicationIcon()));
    });
    return QApplication::exec();
}
