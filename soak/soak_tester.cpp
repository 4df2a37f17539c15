// soak-tester: the real window, offscreen, with the production HTTP transport and the real clock,
// against vibrelle-sim on a free port for a long while. It drives the window through its tester.*
// widgets with clicks, key presses and drags chosen at random from the seed, switches the sim's
// faults on and off at random, and checks all along:
//   - the sim never sees more than one /v1 request in progress (maxInFlight 1);
//   - after every successful stop, the sim plays nothing;
//   - a failed effect request is followed by /v1/stop within 0.1 s of its failure (the sim's timeline);
//   - no request goes anywhere but the sim (a decoy listens where the bad addresses and redirects point);
//   - at the end (Esc, then the time for the stop) nothing plays and no lease is alive;
//   - RSS grows by at most 2 MiB after a warm-up.
// The last line sums the run up; the exit status is 0 only when every check held.

#include "api/NetworkTransport.h"
#include "app/TesterShell.h"
#include "core/TesterController.h"
#include "rig/Rig.h"
#include "ui/TesterView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QSlider>
#include <QSocketNotifier>
#include <QStyle>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <cstdio>
#include <deque>
#include <random>

using namespace vibrelle;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true; // the sanitizer's own bookkeeping grows the RSS: not measured
#else
constexpr bool sanitized = false;
#endif

constexpr double maxRssGrowthMiB = 2;
constexpr double stopWithinMs = 100;
constexpr double transportDeadlineMs = 2000; // the transport's total time-out, for a stalled request

const QStringList apiPaths = {"/v1/status",          "/v1/impulses",          "/v1/sequences",
                              "/v1/resonance",       "/v1/resonance/update",  "/v1/resonance/pause",
                              "/v1/resonance/resume", "/v1/heartbeat",        "/v1/stop"};

bool isEffectPath(const QString &path) {
    return path != QLatin1String("/v1/status") && path != QLatin1String("/v1/stop");
}

double rssMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

// One blocking HTTP exchange with the sim's control endpoints, on a connection of its own: it does
// not run the event loop, so the tester does nothing meanwhile.
QJsonObject control(quint16 port, const QByteArray &method, const QByteArray &path, const QByteArray &body = {}) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return {};
    socket.write(method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray reply;
    while (socket.waitForReadyRead(2000) || socket.bytesAvailable())
        reply += socket.readAll();
    return QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4)).object();
}

// The production transport, watched: every request before it goes, every outcome after the
// controller has handled it.
class WatchedTransport final : public HttpTransport {
public:
    std::function<void(const HttpRequest &)> before;
    std::function<void(const HttpRequest &, const HttpOutcome &)> after;
    void send(const HttpRequest &request, Completion done) override {
        before(request);
        m_inner.send(request, [this, request, done = std::move(done)](const HttpOutcome &outcome) {
            done(outcome);
            after(request, outcome);
        });
    }

private:
    NetworkTransport m_inner;
};

class Soak {
public:
    Soak(int seconds, quint32 seed)
        : m_seconds(seconds)
        , m_seed(seed)
        , m_random(seed) {}

    int run();

private:
    // An operation: a step of its own, or a click on one of the named controls (reached first).
    struct Op {
        const char *name;
        int weight;
        void (Soak::*act)();
        QStringList clicks;
    };
    static const Op ops[];

    // --- the random stream
    // Each operation draws from a generator of its own, seeded from the run's: what one operation
    // finds (a control disabled, say) never shifts the choices of the next.
    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_opRandom); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_opRandom) < p; }
    template <typename T> const T &pick(const QList<T> &list) { return list.at(uniform(0, int(list.size()) - 1)); }

    // --- the window
    QWidget *widget(const QString &name);
    bool reach(const QString &name); // navigates to the section, page or fold that shows it
    void click(const QString &name);
    void pause(int ms) { QTest::qWait(ms); }
    void mouseMove(QWidget *target, QPoint to, bool held);
    void note(const QString &what);
    void fail(const QString &what);

    // --- operations
    void impulse();
    void gestureDrag();
    void slider();
    void escape();
    void deactivate();
    void cueDrag();
    void address();
    void type(const QString &address); // into the address field
    void idle();
    void fault();
    void clearFaults();
    void maybeInterrupt(); // Esc or the loss of the foreground in the middle of a drag, at times

    // --- checks
    void readTimeline();
    void onTimelineLine(const QByteArray &line);
    void beforeRequest(const HttpRequest &request);
    void afterRequest(const HttpRequest &request, const HttpOutcome &outcome);
    void checkStats();
    bool waitUntilIdle(int timeoutMs);

    int m_seconds;
    quint32 m_seed;
    std::mt19937 m_random;
    std::mt19937 m_opRandom;
    rig::Child m_sim;
    quint16 m_port = 0;
    QTcpServer m_decoy;
    QByteArray m_partial;
    std::unique_ptr<QSocketNotifier> m_notifier;
    TesterController *m_controller = nullptr;
    ui::TesterView *m_window = nullptr;
    QString m_clientId;

    qint64 m_operations = 0;
    qint64 m_faults = 0;
    std::deque<QString> m_recent; // the last 50 operations
    QStringList m_violations;
    QElapsedTimer m_clock;
    qint64 m_stopsChecked = 0;         // successful stops after which the sim's state was read
    qint64 m_failuresChecked = 0;      // failed effect requests whose stop was looked for
    // A failed effect request waiting for its stop: the latest time (timeline ms) the stop may arrive.
    std::optional<double> m_stopDue;
    QString m_failedRequest;
};

const Soak::Op Soak::ops[] = {
    {"section", 6, nullptr, {"tester.section.resonance", "tester.section.impulses", "tester.section.billiards"}},
    {"page", 6, nullptr, {"tester.resonance.mode.controlled", "tester.resonance.mode.gesture", "tester.resonance.mode.timed"}},
    {"verify", 2, nullptr, {"tester.verify"}},
    {"impulse", 6, &Soak::impulse, {}},
    {"sequence", 4, nullptr, {"tester.impulses.sequence"}},
    {"timed", 5, nullptr, {"tester.timed.vibrate"}},
    {"controlled start", 6, nullptr, {"tester.controlled.start"}},
    {"controlled pause", 5, nullptr, {"tester.controlled.pause"}},
    {"controlled stop", 3, nullptr, {"tester.controlled.stop"}},
    {"gesture drag", 5, &Soak::gestureDrag, {}},
    {"continuous gesture", 4, nullptr, {"tester.gesture.continuous"}},
    {"slider", 14, &Soak::slider, {}},
    {"escape", 4, &Soak::escape, {}},
    {"deactivate", 2, &Soak::deactivate, {}},
    {"cue drag", 8, &Soak::cueDrag, {}},
    {"hold behaviour", 2, nullptr, {"tester.billiards.hold.maintain", "tester.billiards.hold.pause"}},
    {"release impulse", 2, nullptr, {"tester.billiards.releaseImpulse"}},
    {"curve fold", 1, nullptr, {"tester.billiards.curve"}},
    {"log fold", 1, nullptr, {"tester.log.toggle"}},
    {"address", 3, &Soak::address, {}},
    {"idle", 4, &Soak::idle, {}},
    {"fault", 6, &Soak::fault, {}},
    {"clear faults", 2, &Soak::clearFaults, {}},
};

// --- the window ----------------------------------------------------------------------------------

QWidget *Soak::widget(const QString &name) {
    QWidget *found = m_window->findChild<QWidget *>(name);
    if (!found)
        fail(QStringLiteral("no widget named %1").arg(name));
    return found;
}

bool Soak::reach(const QString &name) {
    // Workspaces and pages are built when first shown, and the window re-renders on the next turn
    // of the event loop; a section or page cannot be left while controls are disabled.
    const auto shown = [&] {
        const QWidget *target = m_window->findChild<QWidget *>(name);
        return target && target->isVisible();
    };
    const auto via = [&](const QString &control) {
        if (!shown() && m_window->findChild<QWidget *>(control)) {
            click(control);
            QCoreApplication::processEvents();
        }
    };
    if (name.startsWith(QLatin1String("tester.impulses.")))
        via(QStringLiteral("tester.section.impulses"));
    if (name.startsWith(QLatin1String("tester.billiards.")))
        via(QStringLiteral("tester.section.billiards"));
    if (name.startsWith(QLatin1String("tester.billiards.curve.")))
        via(QStringLiteral("tester.billiards.curve"));
    if (name.startsWith(QLatin1String("tester.resonance.mode")))
        via(QStringLiteral("tester.section.resonance"));
    for (const char *page : {"controlled", "gesture", "timed"}) {
        if (name.startsWith(QStringLiteral("tester.%1.").arg(QLatin1String(page)))) {
            via(QStringLiteral("tester.section.resonance"));
            via(QStringLiteral("tester.resonance.mode.") + QLatin1String(page));
        }
    }
    return shown();
}

void Soak::click(const QString &name) {
    if (QWidget *target = widget(name)) {
        m_recent.back() += QStringLiteral(" click ") + name;
        QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
    }
}

void Soak::mouseMove(QWidget *target, QPoint to, bool held) {
    const Qt::MouseButtons buttons = held ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(QEvent::MouseMove, to, target->mapToGlobal(to), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void Soak::note(const QString &what) {
    m_recent.push_back(QStringLiteral("#%1 %2 s %3")
                           .arg(m_operations)
                           .arg(double(m_clock.elapsed()) / 1000, 0, 'f', 3)
                           .arg(what));
    if (m_recent.size() > 50)
        m_recent.pop_front();
}

void Soak::fail(const QString &what) {
    if (m_violations.size() < 20)
        m_violations.append(QStringLiteral("at operation %1 (%2 s): %3")
                                .arg(m_operations)
                                .arg(double(m_clock.elapsed()) / 1000, 0, 'f', 3)
                                .arg(what));
}

// --- operations ----------------------------------------------------------------------------------

void Soak::impulse() {
    const QString name = QStringLiteral("tester.impulses.") + pick(QStringList{"crisp", "natural", "soft"});
    if (!reach(name))
        return;
    if (chance(0.3)) {
        QWidget *card = widget(name);
        card->setFocus(Qt::TabFocusReason);
        m_recent.back() += QStringLiteral(" Space on ") + name;
        QTest::keyClick(card, Qt::Key_Space);
    } else {
        click(name);
    }
}

void Soak::maybeInterrupt() {
    if (chance(0.08))
        escape();
    else if (chance(0.04))
        deactivate();
}

void Soak::gestureDrag() {
    if (!reach(QStringLiteral("tester.gesture.pad")))
        return;
    QWidget *pad = widget(QStringLiteral("tester.gesture.pad"));
    QPoint at = pad->rect().center();
    const int moves = uniform(0, 15);
    m_recent.back() += QStringLiteral(" press, %1 moves, release").arg(moves);
    QTest::mousePress(pad, Qt::LeftButton, {}, at);
    for (int i = 0; i < moves; ++i) {
        at += QPoint(uniform(-20, 20), uniform(-10, 10));
        mouseMove(pad, at, true);
        pause(uniform(5, 120));
        maybeInterrupt();
    }
    QTest::mouseRelease(pad, Qt::LeftButton, {}, at);
}

void Soak::slider() {
    static const QStringList sliders = {
        "tester.impulses.intensity",
        "tester.controlled.intensity",
        "tester.controlled.pulseRate",
        "tester.controlled.sharpness",
        "tester.controlled.transition",
        "tester.timed.intensity",
        "tester.timed.fineness",
        "tester.timed.duration",
        "tester.gesture.intensity",
        "tester.gesture.fineness",
        "tester.gesture.reactivity",
        "tester.billiards.curve.low.intensity",
        "tester.billiards.curve.low.cadence",
        "tester.billiards.curve.low.sharpness",
        "tester.billiards.curve.high.intensity",
        "tester.billiards.curve.high.cadence",
        "tester.billiards.curve.high.sharpness",
        "tester.billiards.exponent",
    };
    const QString name = pick(sliders);
    if (!reach(name))
        return;
    QWidget *row = widget(name);
    auto *slider = qobject_cast<QSlider *>(row);
    if (!slider)
        slider = row->findChild<QSlider *>();
    const int steps = uniform(1, 25);
    const int every = pick(QList<int>{0, 5, 20, 50, 120}); // the rate: ms between steps
    if (chance(0.5)) {
        static const QList<Qt::Key> keys = {Qt::Key_Left,   Qt::Key_Right,    Qt::Key_Up,   Qt::Key_Down,
                                            Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End};
        const Qt::Key key = pick(keys);
        m_recent.back() += QStringLiteral(" %1: key %2 x%3 every %4 ms").arg(name).arg(int(key), 0, 16).arg(steps).arg(every);
        slider->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < steps; ++i) {
            QTest::keyClick(slider, key);
            pause(every);
        }
    } else {
        // A drag from the handle along a random path over the groove.
        const int span = qMax(1, slider->width() - 16);
        QPoint at(8 + QStyle::sliderPositionFromValue(slider->minimum(), slider->maximum(), slider->value(), span),
                  slider->height() / 2);
        m_recent.back() += QStringLiteral(" %1: drag %2 steps every %3 ms").arg(name).arg(steps).arg(every);
        QTest::mousePress(slider, Qt::LeftButton, {}, at);
        for (int i = 0; i < steps; ++i) {
            at.setX(qBound(-20, at.x() + uniform(-span / 4, span / 4), slider->width() + 20));
            mouseMove(slider, at, true);
            pause(every);
        }
        QTest::mouseRelease(slider, Qt::LeftButton, {}, at);
    }
}

void Soak::escape() {
    m_recent.back() += QStringLiteral(" Esc");
    QWidget *focus = QApplication::focusWidget();
    QTest::keyClick(focus && focus->window() == m_window ? focus : m_window, Qt::Key_Escape);
}

void Soak::deactivate() {
    const int away = uniform(0, 300);
    m_recent.back() += QStringLiteral(" foreground lost for %1 ms").arg(away);
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
    pause(away);
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
}

void Soak::cueDrag() {
    if (!reach(QStringLiteral("tester.billiards.pad")))
        return;
    QWidget *pad = widget(QStringLiteral("tester.billiards.pad"));
    if (chance(0.2)) {
        // The keyboard's cue: Left, Shift+Left and Right pull, Space shoots.
        const int presses = uniform(1, 12);
        m_recent.back() += QStringLiteral(" keys: %1 pulls, Space").arg(presses);
        pad->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < presses; ++i) {
            const int kind = uniform(0, 2);
            QTest::keyClick(pad, kind == 2 ? Qt::Key_Right : Qt::Key_Left,
                            kind == 1 ? Qt::ShiftModifier : Qt::NoModifier);
            pause(uniform(5, 150));
        }
        QTest::keyClick(pad, Qt::Key_Space);
        return;
    }
    QPoint at(pad->width() * 3 / 4, pad->height() / 2);
    const int moves = uniform(0, 30);
    QString path;
    QTest::mousePress(pad, Qt::LeftButton, {}, at);
    for (int i = 0; i < moves; ++i) {
        const int dx = uniform(-40, 15); // mostly to the left, now and then back
        at += QPoint(dx, uniform(-3, 3));
        path += QString::number(dx) + u' ';
        mouseMove(pad, at, true);
        // Now and then the finger rests past the idle time (0.25 s), which pauses a "pause" hold.
        pause(chance(0.1) ? uniform(260, 700) : uniform(5, 80));
        maybeInterrupt();
    }
    m_recent.back() += QStringLiteral(" press, moves [%1], release").arg(path.trimmed());
    QTest::mouseRelease(pad, Qt::LeftButton, {}, at);
}

void Soak::address() {
    const QString sim = QStringLiteral("http://127.0.0.1:%1").arg(m_port);
    const QString decoy = QString::number(m_decoy.serverPort());
    // Refused forms all point at the decoy: should one slip through, it is seen there.
    const QStringList choices = {
        sim,
        sim,
        sim + u'/',
        QStringLiteral("  ") + sim + QStringLiteral(" \t"),
        QStringLiteral("http://localhost:") + decoy,
        QStringLiteral("https://127.0.0.1:") + decoy,
        QStringLiteral("HTTP://127.0.0.1:") + decoy,
        QStringLiteral("http://127.0.0.1:") + decoy + QStringLiteral("/v1"),
        QStringLiteral("http://127.0.0.1:") + decoy + QStringLiteral("?x=1"),
        QStringLiteral("http://127.0.0.1:") + decoy + QStringLiteral("#"),
        QStringLiteral("http://user@127.0.0.1:") + decoy,
        QStringLiteral("http://127.0.0.2:") + decoy,
        QStringLiteral("http://[::1]:") + decoy,
        QStringLiteral("127.0.0.1:") + decoy,
        QString(),
    };
    // Mostly the sim's address in one of its forms; a refused one is mostly typed over soon.
    const bool refused = chance(0.4);
    type(refused ? choices.at(uniform(4, int(choices.size()) - 1)) : choices.at(uniform(0, 3)));
    if (refused && chance(0.75)) {
        pause(uniform(0, 800));
        if (chance(0.5))
            click(QStringLiteral("tester.verify"));
        type(choices.at(uniform(0, 3)));
    }
}

void Soak::type(const QString &text) {
    auto *field = qobject_cast<QLineEdit *>(widget(QStringLiteral("tester.address")));
    m_recent.back() += QStringLiteral(" type \"%1\"").arg(text);
    field->setFocus(Qt::TabFocusReason);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
    if (chance(0.5))
        QTest::keyClick(field, Qt::Key_Return);
}

void Soak::idle() {
    const int ms = uniform(100, 1500);
    m_recent.back() += QStringLiteral(" %1 ms").arg(ms);
    pause(ms);
}

void Soak::fault() {
    const QString path = pick(apiPaths);
    QJsonObject fault{{"path", path}};
    switch (uniform(0, 6)) {
    case 0:
        fault = {{"latencyMs", uniform(10, 300)}};
        break;
    case 1:
        fault.insert("latencyMs", uniform(10, 300));
        break;
    case 2:
        fault.insert("status", pick(QList<int>{400, 404, 409, 429}));
        fault.insert("error", "soak");
        break;
    case 3:
        fault.insert("status", pick(QList<int>{500, 502, 503}));
        fault.insert("error", "soak");
        break;
    case 4:
        fault.insert("stall", pick(QStringList{"never", "headers"}));
        break;
    case 5:
        fault.insert("close", true);
        break;
    case 6:
        fault.insert("redirect", QStringLiteral("http://127.0.0.1:%1%2").arg(m_decoy.serverPort()).arg(path));
        break;
    }
    if (fault.contains("path"))
        fault.insert("times", uniform(1, 3));
    const QByteArray body = QJsonDocument(fault).toJson(QJsonDocument::Compact);
    m_recent.back() += u' ' + QString::fromUtf8(body);
    if (!control(m_port, "POST", "/_sim/faults", body).value("ok").toBool())
        fail(QStringLiteral("the sim refused the fault %1").arg(QString::fromUtf8(body)));
    ++m_faults;
}

void Soak::clearFaults() {
    control(m_port, "DELETE", "/_sim/faults");
}

// --- checks --------------------------------------------------------------------------------------

void Soak::readTimeline() {
    m_partial += m_sim.read();
    for (qsizetype newline; (newline = m_partial.indexOf('\n')) >= 0;) {
        onTimelineLine(m_partial.left(newline));
        m_partial.remove(0, newline + 1);
    }
}

// Requests appear in the order they were answered (or dropped); with one request at a time that is
// also the order they arrived in.
void Soak::onTimelineLine(const QByteArray &line) {
    const QJsonObject event = QJsonDocument::fromJson(line).object();
    if (event.value("event").toString() != QLatin1String("request") ||
        event.value("clientId").toString() != m_clientId)
        return;
    const double t = event.value("t").toDouble();
    const QString path = event.value("path").toString();
    const int status = event.value("status").toInt();
    const QString faultName = event.value("fault").toString();
    if (m_stopDue) {
        const double arrived = t - event.value("delayMs").toDouble() - event.value("handlingMs").toDouble();
        if (path != QLatin1String("/v1/stop"))
            fail(QStringLiteral("%1 was followed by %2, not by /v1/stop").arg(m_failedRequest, path));
        else if (arrived > *m_stopDue)
            fail(QStringLiteral("%1 was followed by /v1/stop %2 ms too late")
                     .arg(m_failedRequest)
                     .arg(arrived - *m_stopDue, 0, 'f', 1));
        m_stopDue.reset();
        ++m_failuresChecked;
    }
    if (isEffectPath(path) && (status == 0 || status >= 300)) {
        // A stalled request fails when the transport gives up on it; any other when it is answered
        // or its connection dropped.
        const bool stalled = faultName.startsWith(QLatin1String("stall"));
        m_stopDue = t + (stalled ? transportDeadlineMs : 0) + stopWithinMs;
        m_failedRequest = QStringLiteral("%1 (%2%3 at %4 ms)")
                              .arg(path)
                              .arg(status)
                              .arg(faultName.isEmpty() ? QString() : QStringLiteral(", ") + faultName)
                              .arg(t, 0, 'f', 1);
    }
}

void Soak::beforeRequest(const HttpRequest &request) {
    if (request.url.host() != QLatin1String("127.0.0.1") || request.url.port() != m_port)
        fail(QStringLiteral("a request went to %1").arg(request.url.toString()));
}

void Soak::afterRequest(const HttpRequest &request, const HttpOutcome &outcome) {
    if (!request.url.path().endsWith(QLatin1String("/v1/stop")) || outcome.failed || outcome.statusCode != 200 ||
        !QJsonDocument::fromJson(outcome.body).object().value("ok").toBool())
        return;
    // The controller has handled the stop's reply; nothing of the tester's has run since.
    const QJsonArray playing = control(m_port, "GET", "/_sim/state").value("playing").toArray();
    ++m_stopsChecked;
    if (!playing.isEmpty())
        fail(QStringLiteral("after a successful stop the sim plays %1")
                 .arg(QString::fromUtf8(QJsonDocument(playing).toJson(QJsonDocument::Compact))));
}

void Soak::checkStats() {
    const int maxInFlight = control(m_port, "GET", "/_sim/stats").value("maxInFlight").toInt();
    if (maxInFlight != 1)
        fail(QStringLiteral("the sim saw %1 requests in progress at once").arg(maxInFlight));
}

bool Soak::waitUntilIdle(int timeoutMs) {
    return QTest::qWaitFor(
        [this] {
            return !m_controller->busy() && !m_controller->pendingStop() && !m_controller->releasePending();
        },
        timeoutMs);
}

int Soak::run() {
    m_clock.start();
    if (!m_decoy.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "soak: cannot listen for the decoy\n");
        return 2;
    }
    QObject::connect(&m_decoy, &QTcpServer::newConnection, [this] {
        while (QTcpSocket *socket = m_decoy.nextPendingConnection()) {
            fail(QStringLiteral("a connection reached the decoy port %1").arg(m_decoy.serverPort()));
            socket->deleteLater();
        }
    });
    if (!m_sim.start({rig::builtProgram(QStringLiteral("vibrelle-sim")), QStringLiteral("--port"),
                      QStringLiteral("0"), QStringLiteral("--json")},
                     rig::currentEnvironment(), rig::Child::Output::capture)) {
        std::fprintf(stderr, "soak: cannot start vibrelle-sim\n");
        return 2;
    }
    static const QByteArray listening = "listening on http://127.0.0.1:";
    rig::pollUntil(
        {m_sim.fd()}, [this](int) { m_partial += m_sim.read(); },
        [this] { return m_partial.contains('\n') || m_sim.finished(); }, 10000);
    if (!m_partial.startsWith(listening)) {
        std::fprintf(stderr, "soak: vibrelle-sim did not start: %s\n", m_partial.constData());
        return 2;
    }
    m_port = quint16(m_partial.mid(listening.size(), m_partial.indexOf('\n') - listening.size()).toUInt());
    m_partial.remove(0, m_partial.indexOf('\n') + 1);
    m_notifier = std::make_unique<QSocketNotifier>(m_sim.fd(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readTimeline(); });

    // The window as the application builds it, on a controller with the production transport (watched)
    // and clock. It starts with no address, so that its first request is the one typed in below.
    auto transport = std::make_unique<WatchedTransport>();
    transport->before = [this](const HttpRequest &request) { beforeRequest(request); };
    transport->after = [this](const HttpRequest &request, const HttpOutcome &outcome) {
        afterRequest(request, outcome);
    };
    TesterController controller(QString(), std::move(transport), std::make_shared<SystemTimeSource>());
    TesterShell shell(&controller, std::make_shared<SystemTimeSource>(), [] {});
    m_controller = &controller;
    m_window = shell.window();
    m_clientId = controller.clientID();
    m_window->show();
    if (!QTest::qWaitForWindowActive(m_window)) {
        std::fprintf(stderr, "soak: the window did not become active\n");
        return 2;
    }
    note(QStringLiteral("address"));
    auto *field = qobject_cast<QLineEdit *>(widget(QStringLiteral("tester.address")));
    field->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(field, QStringLiteral("http://127.0.0.1:%1").arg(m_port));
    click(QStringLiteral("tester.verify"));

    // The warm-up begins with a tour of every section, page and fold, which are built when first shown.
    note(QStringLiteral("tour"));
    waitUntilIdle(5000); // sections cannot be switched while the first status request is out
    for (const char *name : {"tester.impulses.sequence", "tester.timed.vibrate", "tester.gesture.pad",
                             "tester.controlled.start", "tester.billiards.curve.low.intensity"}) {
        reach(QString::fromLatin1(name));
        pause(50);
    }
    click(QStringLiteral("tester.log.toggle"));
    pause(50);
    click(QStringLiteral("tester.log.toggle"));

    int totalWeight = 0;
    for (const Op &op : ops)
        totalWeight += op.weight;
    const qint64 end = qint64(m_seconds) * 1000;
    const qint64 warmUp = qBound(qint64(5000), end / 5, qint64(60000));
    double rssStart = 0;
    const bool trace = qEnvironmentVariableIsSet("SOAK_TRACE");
    while (m_clock.elapsed() < end && m_violations.isEmpty()) {
        if (rssStart == 0 && m_clock.elapsed() >= warmUp)
            rssStart = rssMiB();
        m_opRandom.seed(m_random());
        int draw = std::uniform_int_distribution<int>(1, totalWeight)(m_random);
        const Op *op = ops;
        while ((draw -= op->weight) > 0)
            ++op;
        ++m_operations;
        note(QLatin1String(op->name));
        if (op->act) {
            (this->*op->act)();
        } else if (const QString name = pick(op->clicks); reach(name)) {
            click(name);
        }
        pause(uniform(0, 150));
        if (m_operations % 50 == 0)
            checkStats();
        if (trace && m_operations % 200 == 0)
            std::fprintf(stderr, "%lld s: RSS %.2f MiB\n", qint64(m_clock.elapsed() / 1000), rssMiB());
    }

    // The end: faults off, back on the sim's address, Esc, and the time for the stop.
    note(QStringLiteral("end: clear faults, address, Esc"));
    clearFaults();
    escape();
    waitUntilIdle(5000);
    if (field->text() != QStringLiteral("http://127.0.0.1:%1").arg(m_port)) {
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("http://127.0.0.1:%1").arg(m_port));
        escape();
    }
    if (!waitUntilIdle(5000))
        fail(QStringLiteral("the tester was still busy 5 s after Esc"));
    pause(200);
    readTimeline();
    if (m_stopDue)
        fail(m_failedRequest + QStringLiteral(" was never followed by /v1/stop"));
    const QJsonObject state = control(m_port, "GET", "/_sim/state");
    const QJsonArray playing = state.value("playing").toArray();
    const bool leaseAlive = state.value("lease").toObject().value("alive").toBool();
    if (state.isEmpty())
        fail(QStringLiteral("the sim did not answer /_sim/state"));
    if (!playing.isEmpty() || leaseAlive)
        fail(QStringLiteral("at the end the sim plays %1, lease %2")
                 .arg(QString::fromUtf8(QJsonDocument(playing).toJson(QJsonDocument::Compact)),
                      leaseAlive ? QStringLiteral("alive") : QStringLiteral("over")));
    const QJsonObject stats = control(m_port, "GET", "/_sim/stats");
    const int maxInFlight = stats.value("maxInFlight").toInt();
    if (maxInFlight != 1)
        fail(QStringLiteral("the sim saw %1 requests in progress at once").arg(maxInFlight));
    const double rssGrowth = rssStart > 0 ? rssMiB() - rssStart : 0;
    if (!sanitized && rssGrowth > maxRssGrowthMiB)
        fail(QStringLiteral("RSS grew by %1 MiB after the warm-up").arg(rssGrowth, 0, 'f', 2));

    if (trace) {
        for (const QString &op : m_recent)
            std::printf("  %s\n", qPrintable(op));
        for (const LogEntry &entry : controller.entries())
            std::printf("  log: %s\n", qPrintable(entry.text));
    }
    if (!m_violations.isEmpty()) {
        std::printf("soak: FAILED with seed %u; replay: soak-tester --seconds %d --seed %u\n", m_seed, m_seconds,
                    m_seed);
        for (const QString &violation : std::as_const(m_violations))
            std::printf("  violation %s\n", qPrintable(violation));
        std::printf("the last %zu operations:\n", m_recent.size());
        for (const QString &op : m_recent)
            std::printf("  %s\n", qPrintable(op));
    }
    std::printf("checked: %lld successful stops, %lld failed effect requests and their stops\n", m_stopsChecked,
                m_failuresChecked);
    std::printf("soak: seed %u, %lld operations, %lld faults, %lld requests, maxInFlight %d, left playing %lld, "
                "RSS %+.2f MiB%s\n",
                m_seed, m_operations, m_faults, qint64(stats.value("total").toDouble()), maxInFlight,
                qint64(playing.size()), rssGrowth, sanitized ? " (not checked under the sanitizers)" : "");
    std::fflush(stdout);
    return m_violations.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("soak-tester"));
    int seconds = 60;
    quint32 seed = std::random_device{}();
    const QStringList arguments = QApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        bool ok = false;
        if (arguments.at(i) == QLatin1String("--seconds") && i + 1 < arguments.size())
            seconds = arguments.at(++i).toInt(&ok);
        else if (arguments.at(i) == QLatin1String("--seed") && i + 1 < arguments.size())
            seed = arguments.at(++i).toUInt(&ok);
        if (!ok || seconds <= 0) {
            std::fprintf(stderr, "usage: soak-tester [--seconds N] [--seed S]\n");
            return 2;
        }
    }
    return Soak(seconds, seed).run();
}
