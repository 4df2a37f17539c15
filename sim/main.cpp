// vibrelle-sim: a simulated local haptic-feedback service for development, demos and tests.

#include "SimOptions.h"
#include "SimServer.h"
#include "Timeline.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int signal) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

bool installSignalHandlers() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGINT, &action, nullptr) != 0 || ::sigaction(SIGTERM, &action, nullptr) != 0)
        return false;
    // A reader of standard output that went away must not kill the service.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

void printError(const QString &message) {
    std::fprintf(stderr, "vibrelle-sim: %s\n", qPrintable(message));
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vibrelle-sim"));

    using namespace vibrelle::sim;
    QString error;
    const std::optional<SimOptions> options = parseOptions(QCoreApplication::arguments().mid(1), &error);
    if (!options) {
        printError(error + QStringLiteral(" (try --help)"));
        return 2;
    }
    if (options->help) {
        std::fputs(qPrintable(helpText()), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("vibrelle-sim %s\n", VIBRELLE_SIM_VERSION);
        return 0;
    }
    if (!installSignalHandlers()) {
        printError(QStringLiteral("cannot install the signal handlers"));
        return 1;
    }

    Timeline timeline(options->format);
    SimServer server(options->config, &timeline);
    if (!server.listen(&error)) {
        printError(error);
        return 1;
    }
    writeStdoutLine("listening on http://127.0.0.1:" + QByteArray::number(server.port()));

    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        unsigned char signal = 0;
        if (::read(signalPipe[0], &signal, 1) != 1)
            return;
        notifier.setEnabled(false);
        server.shutdown(signal == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"));
        QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}
