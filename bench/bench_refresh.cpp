// bench-refresh: what a change costs the real tester, against what a bare Qt slider costs. The
// tester runs on a private X server (Xvfb, no window manager) against vibrelle-sim on
// 127.0.0.1:59723; the pointer is moved by XTEST, as a person's would be. CPU time is the sum
// over all threads of /proc/PID/task/*/schedstat (nanoseconds), read just before the first
// input and 300 ms after the last one (so the work an input sets off is counted).
//   - slider drag: press on the handle of the controlled page's "Intensità" slider (at 50%),
//     500 pointer moves 10 ms apart, 4 px each, back and forth, release; nothing runs, so
//     nothing is sent. The same drag on the one QSlider of `bench-bare-window slider`, started
//     the same way; median of R runs each, and the ratio.
//   - live update: a controlled resonance runs ("Avvia" clicked); the same slider is dragged
//     slowly, 100 moves 60 ms apart, so that every move is carried by its own
//     /v1/resonance/update (the tester sends at most one per 50 ms). The same drag with nothing
//     running is subtracted; what remains, divided by the updates the sim answered, is the CPU
//     an exchange adds.
//   - heartbeat: a controlled resonance left alone for S seconds; CPU time divided by the
//     heartbeats the sim answered meanwhile (nothing visible changes).
//
// Usage: bench-refresh [--runs R] [--table]   (R from 1 to 9, default 3; --table prints the rows
// for bench/run: name<TAB>figure<TAB>unit<TAB>notes)

#include "BareWindow.h"
#include "Measures.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

using namespace bench;

namespace {

constexpr int heartbeatSeconds = 10;

// Pointer input through the XTEST extension, on a connection of our own.
class Pointer {
public:
    explicit Pointer(const QString &display)
        : m_connection(xcb_connect(display.toLatin1().constData(), nullptr)) {
        if (xcb_connection_has_error(m_connection)) {
            return;
        }
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const auto *extension = xcb_get_extension_data(m_connection, &s_xtest);
        m_ok = extension && extension->present;
    }
    ~Pointer() { xcb_disconnect(m_connection); }
    bool isOpen() const { return m_ok; }

    // Window coordinates of a top-level window to root coordinates (no window manager: no frame).
    QPoint origin(std::uint32_t window) const {
        auto *reply = xcb_translate_coordinates_reply(
            m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr);
        const QPoint at = reply ? QPoint(reply->dst_x, reply->dst_y) : QPoint();
        std::free(reply);
        return at;
    }
    void move(QPoint at) { fake(XCB_MOTION_NOTIFY, 0, at); }
    void press(QPoint at) { move(at), fake(XCB_BUTTON_PRESS, 1, at); }
    void release(QPoint at) { fake(XCB_BUTTON_RELEASE, 1, at); }
    void click(QPoint at) { press(at), release(at); }

private:
    // The XTEST FakeInput request (minor opcode 2).
    struct FakeInput {
        std::uint8_t major, minor;
        std::uint16_t length;
        std::uint8_t type, detail, pad0[2];
        std::uint32_t time, root;
        std::uint8_t pad1[8];
        std::int16_t rootX, rootY;
        std::uint8_t pad2[7], deviceid;
    };
    static_assert(sizeof(FakeInput) == 36);

    void fake(std::uint8_t type, std::uint8_t detail, QPoint at) {
        static const xcb_protocol_request_t request = {1, &s_xtest, 2, 1};
        FakeInput body{};
        body.type = type;
        body.detail = detail;
        body.root = m_root;
        body.rootX = std::int16_t(at.x());
        body.rootY = std::int16_t(at.y());
        iovec parts[4];
        parts[2] = {&body, sizeof body};
        xcb_send_request(m_connection, 0, parts + 2, &request);
        xcb_flush(m_connection);
    }

    static inline xcb_extension_t s_xtest = {"XTEST", 0};
    xcb_connection_t *m_connection;
    xcb_window_t m_root = 0;
    bool m_ok = false;
};

// Where the tester's controls are, in window coordinates: e2e-window-layout run in the
// tester's environment builds the same window at the same size.
QHash<QString, QRect> testerLayout(const DisplayServer &display, QString *error) {
    QByteArray errors;
    const auto printed = runProgram({builtProgram(QStringLiteral("e2e-window-layout"))},
                                    TesterProcess().environment(display), 15000, &errors);
    QHash<QString, QRect> layout;
    if (!printed) {
        *error = QStringLiteral("e2e-window-layout failed: ") + QString::fromLocal8Bit(errors);
        return layout;
    }
    const QJsonObject controls = QJsonDocument::fromJson(*printed).object();
    for (auto it = controls.begin(); it != controls.end(); ++it) {
        const QJsonArray r = it.value().toArray();
        layout.insert(it.key(), QRect(r[0].toInt(), r[1].toInt(), r[2].toInt(), r[3].toInt()));
    }
    return layout;
}

void pause(double ms) {
    pollUntil({}, [](int) {}, [] { return false; }, ms);
}

// Press at `handle`, `moves` moves `intervalMs` apart, 4 px each, out to 100 px right, back to
// 100 px left and home again (every 100 moves), release. The CPU time of `pid` it cost.
double drag(Pointer &pointer, pid_t pid, QPoint handle, int moves, double intervalMs,
            const std::function<void()> &meanwhile = [] {}) {
    const double before = schedstatMs(pid);
    pointer.press(handle);
    const double t0 = monotonicMs();
    for (int i = 1; i <= moves; ++i) {
        const int phase = i % 100;
        const int offset = phase < 25 ? 4 * phase : phase < 75 ? 4 * (50 - phase) : 4 * (phase - 100);
        pollUntil({}, [](int) {}, [&] { return monotonicMs() >= t0 + i * intervalMs; }, intervalMs + 1);
        pointer.move(handle + QPoint(offset, 0));
        meanwhile();
    }
    pointer.release(handle);
    pause(300);
    return schedstatMs(pid) - before;
}

struct Started {
    std::uint32_t window = 0;
    QString clientId; // the tester's
};

// Starts a program the way the tester is started and waits for its window (and, for the tester,
// its answered start-up status request).
bool launch(TesterProcess &process, const QStringList &program, const QByteArray &instance,
            const DisplayServer &display, XClient &x, SimProcess *sim, Started *started) {
    x.takeMapped(instance);
    const qsizetype mark = sim ? sim->events().size() : 0;
    if (!process.process.start(program, process.environment(display))) {
        return false;
    }
    const auto ready = [&](int) {
        if (!started->window) {
            started->window = x.takeMapped(instance).value_or(0);
        }
    };
    const auto done = [&] {
        if (sim && started->clientId.isEmpty()) {
            const auto found = sim->matching(
                eventIs(QStringLiteral("request"), {{"client", "API Tester"}, {"path", "/v1/status"}}), mark);
            if (!found.isEmpty()) {
                started->clientId = found.first().value(QLatin1String("clientId")).toString();
            }
        }
        return process.process.finished() || (started->window && (!sim || !started->clientId.isEmpty()));
    };
    if (!pollUntil({x.fd()}, ready, done, 15000) || process.process.finished()) {
        return false;
    }
    x.setInputFocus(started->window); // as a window manager would give it
    pause(500);
    return true;
}

// The tester's answered requests on `path` since `mark`.
int answered(SimProcess &sim, const QString &clientId, const char *path, qsizetype mark) {
    int count = 0;
    for (const QJsonObject &event :
         sim.matching(eventIs(QStringLiteral("request"), {{"clientId", clientId}, {"path", path}}), mark)) {
        count += event.value(QLatin1String("status")).toInt() == 200 ? 1 : 0;
    }
    return count;
}

bool awaitRequest(SimProcess &sim, const QString &clientId, const char *path, qsizetype mark) {
    return pollUntil({sim.fd()}, [](int) {}, [&] { return answered(sim, clientId, path, mark) > 0; }, 3000);
}

} // namespace

int main(int argc, char *argv[]) {
    int runs = 3;
    bool table = false;
    if (!parseArguments(argc, argv, "bench-refresh", "--runs", 1, 9, &runs, &table)) {
        return 2;
    }
    DisplayServer display;
    std::unique_ptr<SimProcess> simProcess;
    if (!startDisplayAndSim("bench-refresh", display, simProcess)) {
        return 1;
    }
    SimProcess &sim = *simProcess;
    XClient x(display.display());
    Pointer pointer(display.display());
    if (!x.isOpen() || !pointer.isOpen()) {
        std::fprintf(stderr, "bench-refresh: cannot connect to the X server, or it has no XTEST\n");
        return 1;
    }
    QString error;
    const QHash<QString, QRect> layout = testerLayout(display, &error);
    const QRect slider = layout.value(QStringLiteral("resonance/tester.controlled.intensity.slider"));
    const QRect start = layout.value(QStringLiteral("resonance/tester.controlled.start"));
    const QRect stop = layout.value(QStringLiteral("resonance/tester.controlled.stop"));
    if (slider.isEmpty() || start.isEmpty() || stop.isEmpty()) {
        std::fprintf(stderr, "bench-refresh: no layout of the controlled page %s\n", qPrintable(error));
        return 1;
    }
    const auto fail = [](const char *what) {
        std::fprintf(stderr, "bench-refresh: %s\n", what);
        return 1;
    };

    // Slider drags, tester and bare QSlider in turn.
    std::vector<double> testerDrag, bareDrag;
    for (int run = 0; run < runs; ++run) {
        TesterProcess tester;
        Started t;
        if (!launch(tester, {builtProgram(QStringLiteral("vibrelle-api-tester"))}, "vibrelle-api-tester", display,
                    x, &sim, &t)) {
            return fail("the tester did not start");
        }
        const QPoint origin = pointer.origin(t.window);
        testerDrag.push_back(drag(pointer, tester.process.pid(), origin + slider.center(), 500, 10));
        tester.process.stop(5000);

        TesterProcess bare;
        Started b;
        if (!launch(bare, {builtProgram(QStringLiteral("bench-bare-window")), QStringLiteral("slider")},
                    "bench-bare-window", display, x, nullptr, &b)) {
            return fail("bench-bare-window did not start");
        }
        const QPoint handle = pointer.origin(b.window) +
                              QRect(bare::sliderX, bare::sliderY, bare::sliderWidth, bare::sliderHeight).center();
        bareDrag.push_back(drag(pointer, bare.process.pid(), handle, 500, 10));
        bare.process.stop(5000);
        if (!table) {
            std::printf("  run %d  slider drag: tester %.1f ms, bare QSlider %.1f ms\n", run + 1, testerDrag.back(),
                        bareDrag.back());
        }
    }

    // Live updates and heartbeats on one tester.
    TesterProcess tester;
    Started t;
    if (!launch(tester, {builtProgram(QStringLiteral("vibrelle-api-tester"))}, "vibrelle-api-tester", display, x,
                &sim, &t)) {
        return fail("the tester did not start");
    }
    const pid_t pid = tester.process.pid();
    const QPoint origin = pointer.origin(t.window);
    const QPoint handle = origin + slider.center();
    const auto startResonance = [&] {
        const qsizetype mark = sim.events().size();
        pointer.click(origin + start.center());
        return awaitRequest(sim, t.clientId, "/v1/resonance", mark) &&
               awaitRequest(sim, t.clientId, "/v1/heartbeat", mark);
    };
    const auto stopResonance = [&] {
        const qsizetype mark = sim.events().size();
        pointer.click(origin + stop.center());
        const bool stopped = awaitRequest(sim, t.clientId, "/v1/stop", mark);
        pause(300);
        return stopped;
    };
    const auto readSim = [&] { sim.read(); };

    std::vector<double> perUpdate;
    int updatesSeen = 0;
    double withUpdates = 0, withoutUpdates = 0;
    for (int run = 0; run < runs; ++run) {
        if (!startResonance()) {
            return fail("the controlled resonance did not start");
        }
        const qsizetype mark = sim.events().size();
        const double with = drag(pointer, pid, handle, 100, 60, readSim);
        const int updates = answered(sim, t.clientId, "/v1/resonance/update", mark);
        if (!stopResonance()) {
            return fail("the controlled resonance did not stop");
        }
        const double without = drag(pointer, pid, handle, 100, 60, readSim);
        if (updates == 0) {
            return fail("the slow drag sent no live update");
        }
        perUpdate.push_back((with - without) / updates);
        updatesSeen += updates;
        withUpdates += with;
        withoutUpdates += without;
        if (!table) {
            std::printf("  run %d  slow drag: %.1f ms with %d updates, %.1f ms with nothing running\n", run + 1,
                        with, updates, without);
        }
    }

    if (!startResonance()) {
        return fail("the controlled resonance did not start");
    }
    const qsizetype mark = sim.events().size();
    const double before = schedstatMs(pid);
    pollUntil({sim.fd()}, [&](int) { sim.read(); }, [] { return false; }, heartbeatSeconds * 1000.0);
    const double heartbeatCpu = schedstatMs(pid) - before;
    const int heartbeats = answered(sim, t.clientId, "/v1/heartbeat", mark);
    stopResonance();
    if (heartbeats == 0) {
        return fail("no heartbeat while the resonance ran");
    }

    const Spread testerSpread = spread(testerDrag), bareSpread = spread(bareDrag);
    const Spread updateSpread = spread(perUpdate);
    const std::string of = " (median of " + std::to_string(runs) + ")";
    char notes[4][256];
    std::snprintf(notes[0], sizeof notes[0],
                  "500 pointer moves in 5 s on the controlled page's intensity slider%s; min %.1f, max %.1f",
                  of.c_str(), testerSpread.min, testerSpread.max);
    std::snprintf(notes[1], sizeof notes[1], "the same drag on bench-bare-window's one QSlider%s; min %.1f, max %.1f",
                  of.c_str(), bareSpread.min, bareSpread.max);
    std::snprintf(notes[2], sizeof notes[2],
                  "controlled resonance, 100 moves 60 ms apart: %.1f ms with %d updates minus %.1f ms with nothing "
                  "running, over %d runs; min %.3f, max %.3f",
                  withUpdates, updatesSeen, withoutUpdates, runs, updateSpread.min, updateSpread.max);
    std::snprintf(notes[3], sizeof notes[3], "controlled resonance left alone %d s: %.1f ms over %d heartbeats",
                  heartbeatSeconds, heartbeatCpu, heartbeats);
    const auto figure = [](const char *format, double value) {
        char text[32];
        std::snprintf(text, sizeof text, format, value);
        return std::string(text);
    };
    const std::array<std::array<std::string, 4>, 5> rows{{
        {"refresh: slider drag, tester", figure("%.1f", testerSpread.median), "ms CPU", notes[0]},
        {"refresh: slider drag, bare QSlider", figure("%.1f", bareSpread.median), "ms CPU", notes[1]},
        {"refresh: slider drag, tester/bare", figure("%.2f", testerSpread.median / bareSpread.median), "x",
         "medians of the same run; CPU of all threads from /proc/PID/task/*/schedstat"},
        {"refresh: CPU per live-update exchange", figure("%.3f", updateSpread.median), "ms", notes[2]},
        {"refresh: CPU per heartbeat", figure("%.3f", heartbeatCpu / heartbeats), "ms", notes[3]},
    }};
    for (const auto &r : rows) {
        if (table) {
            std::printf("%s\t%s\t%s\t%s\n", r[0].c_str(), r[1].c_str(), r[2].c_str(), r[3].c_str());
        } else {
            std::printf("%-38s %10s %-7s %s\n", r[0].c_str(), r[1].c_str(), r[2].c_str(), r[3].c_str());
        }
    }
    return 0;
}
