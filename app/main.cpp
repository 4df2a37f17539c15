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
    // The window's icon, drawn at the sizes the platform asks for (the same picture as the
    // installed one, which the desktop finds through the desktop entry), once the window is up.
    // Looking it up among the icon themes cost half a megabyte and a few milliseconds.
    QTimer::singleShot(0, &shell, [] { QApplication::setWindowIcon(vibrelle::ui::applicationIcon()); });
    return QApplication::exec();
}
