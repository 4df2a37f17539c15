// vibrelle-sim: a simulated local haptic-feedback service for development, demos and tests.

#include "PlayTrack.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "SoundFeed.h"
#include "Timeline.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#if VIBRELLE_SIM_DESKTOP
#include "desktop/DeviceSink.h"
#include "desktop/SimView.h"

#include <QApplication>
#include <sys/un.h>
#endif

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

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

#if VIBRELLE_SIM_DESKTOP
bool socketAnswers(const QByteArray &path, bool abstract = false) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.size() + 2 > qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path + (abstract ? 1 : 0), path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + (abstract ? 1 : 0) + path.size());
    const bool answered = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), length) == 0;
    if (fd >= 0)
        ::close(fd);
    return answered;
}

// Whether a window can be opened: a platform chosen explicitly (offscreen, say), a Wayland
// compositor or an X server that answers on this machine, or an X server on another host.
bool displayAvailable(QString *why) {
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return true;
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    const QByteArray x = qgetenv("DISPLAY");
    if (wayland.isEmpty() && x.isEmpty()) {
        *why = QStringLiteral("no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
        return false;
    }
    if (!wayland.isEmpty() &&
        socketAnswers(wayland.startsWith('/') ? wayland : qgetenv("XDG_RUNTIME_DIR") + '/' + wayland))
        return true;
    if (!x.isEmpty()) {
        const QByteArray host = x.left(x.indexOf(':'));
        if (!host.isEmpty() && host != "unix")
            return true; // over the network: Qt will tell
        const QByteArray socket = "/tmp/.X11-unix/X" + x.mid(x.indexOf(':') + 1).split('.').first();
        if (socketAnswers(socket) || socketAnswers(socket, true))
            return true;
    }
    *why = QStringLiteral("cannot reach the display (DISPLAY=%1, WAYLAND_DISPLAY=%2)")
               .arg(QString::fromLocal8Bit(x), QString::fromLocal8Bit(wayland));
    return false;
}
#endif

} // namespace

int main(int argc, char *argv[]) {
    using namespace vibrelle::sim;
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QString error;
    const std::optional<SimOptions> options = parseOptions(arguments, &error);
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
#if VIBRELLE_SIM_DESKTOP
    if (options->view && !displayAvailable(&error)) {
        printError(QStringLiteral("--view: ") + error);
        return 2;
    }
#else
    if (options->view || options->audio) {
        printError(QStringLiteral("%1: this vibrelle-sim was built without window and sound output")
                       .arg(options->view ? QStringLiteral("--view") : QStringLiteral("--audio")));
        return 2;
    }
#endif
    WavSink wav;
    if (!options->audioFile.isEmpty() && !wav.open(options->audioFile, &error)) {
        printError(QStringLiteral("--audio-file: ") + error);
        return 2;
    }

#if VIBRELLE_SIM_DESKTOP
    const std::unique_ptr<QCoreApplication> app(options->view ? new QApplication(argc, argv)
                                                              : new QCoreApplication(argc, argv));
#else
    const auto app = std::make_unique<QCoreApplication>(argc, argv);
#endif
    QCoreApplication::setApplicationName(QStringLiteral("vibrelle-sim"));
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

    // What the window and the sound follow: the timeline, never the other way round.
    PlayTrack track(options->config.leaseMs);
    const auto nowMs = [&timeline] { return timeline.nowMs(); };
    std::vector<std::unique_ptr<SoundFeed>> feeds;
    if (wav.isOpen())
        feeds.push_back(std::make_unique<SoundFeed>(&track, nowMs, &wav));
#if VIBRELLE_SIM_DESKTOP
    std::unique_ptr<DeviceSink> device;
    if (options->audio) {
        device = DeviceSink::open(&error);
        if (device)
            feeds.push_back(std::make_unique<SoundFeed>(&track, nowMs, device.get()));
        else
            printError(QStringLiteral("--audio: %1; the sim goes on without sound").arg(error));
    }
    std::unique_ptr<SimView> view;
    if (options->view) {
        view = std::make_unique<SimView>(SimView::Source{&track, nowMs, [&server] { return server.faults(); },
                                                         server.port(), options->config.latencyMs});
        QObject::connect(view.get(), &SimView::closed, app.get(), [&server] {
            server.shutdown(QStringLiteral("window closed"));
            QCoreApplication::quit();
        });
        view->show();
    }
#endif
    if (!feeds.empty() || options->view) {
        timeline.setObserver([&](double t, const QString &event, const QJsonObject &fields) {
            track.apply(t, event, fields);
            for (const auto &feed : feeds)
                feed->catchUp();
#if VIBRELLE_SIM_DESKTOP
            if (view)
                view->follow(event, fields);
#endif
        });
    }
    writeStdoutLine("listening on http://127.0.0.1:" + QByteArray::number(server.port()));

    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, app.get(), [&] {
        unsigned char signal = 0;
        if (::read(signalPipe[0], &signal, 1) != 1)
            return;
        notifier.setEnabled(false);
        server.shutdown(signal == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"));
        QCoreApplication::quit();
    });
    const int status = QCoreApplication::exec();
    // The sound file runs until the very end.
    for (const auto &feed : feeds)
        feed->catchUp();
    timeline.setObserver({});
    return status;
}
