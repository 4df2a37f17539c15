// Effects on virtual time: the phases every effect passes through, live updates through the 50 ms
// throttle, the controlled resonance's lease heartbeat and pause, the timed resonance's local deadline
// (the gesture's pad and button: test_workspaces), the billiards cue from the first pull to the release
// impulse, and the tension curve's shape and limits.

#include "support/ControllerFixture.h"

#include <QHash>

#include <algorithm>
#include <functional>
#include <limits>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

constexpr double eps = 1e-9;
constexpr double none = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

QJsonObject obj(const QString &key, double value) {
    return std::isnan(value) ? QJsonObject{} : QJsonObject{{key, value}};
}
const QJsonObject paused{{QStringLiteral("paused"), true}};

using Setup = std::function<void(ControllerFixture &)>;

const Setup sequence = [](ControllerFixture &f) { f.c().sequence(); };
const Setup timed = [](ControllerFixture &f) {
    f.c().setDurationMilliseconds(5000);
    f.c().timedResonance();
};
const Setup controlled = [](ControllerFixture &f) { f.c().controlledResonance(); };
const Setup gesture = [](ControllerFixture &f) { f.c().toggleContinuousGesture(); };

// "1" or "0" for: the controls, the connection, reactivity, duration, fineness, the controlled parameters.
QString editable(const TesterController &c) {
    QString flags;
    for (const bool on : {c.controlsEnabled(), c.connectionEditable(), c.reactivityEditable(),
                          c.durationEditable(), c.finenessEditable(), c.controlledParametersEditable()}) {
        flags += on ? u'1' : u'0';
    }
    return flags;
}

// Starts an effect, confirms it 2 ms later, and forgets the start.
void startConfirmed(ControllerFixture &f, const Setup &start) {
    start(f);
    f.advance(0.002);
    f.ok();
    f.transport->clearSent();
}

struct Deadline {
    double durationMs;
    QJsonObject startReply;
    QString key; // changed while running, unless empty
    double value;
    QJsonObject updateReply;
    double stopAfterStart; // none: no stop at all
};

QJsonObject curveValues(double charge, const TensionCurve &curve = {}) {
    const auto s = curve.sample(charge);
    return {{"intensity", s.intensity}, {"pulseRateHz", s.cadence}, {"sharpness", s.sharpness}};
}

// Begins a drag, confirms its resonance 2 ms later, and pulls by `pull` points 0.1 s on.
void dragTo(ControllerFixture &f, double pull) {
    f.c().beginCueDrag();
    f.advance(0.002);
    f.ok();
    f.advance(0.1);
    f.c().updateCueDrag(pull);
}

struct Release {
    double pull;
    QString inFlight; // at the release: the start, an update, or nothing
    // Then: the request in flight "fails", "quit first" (before the stop's reply), a "failed stop",
    // or, while the impulse waits for its turn, "Esc", "deactivation" or "quit".
    QString then;
    double impulseAfterStop; // seconds after the stop's send; none: no impulse
};

struct Limited {
    TensionCurve curve;
    double exponent;    // the one sampling uses
    QList<double> ends; // intensity, cadence and sharpness, start and end, as sampling uses them
};

} // namespace

Q_DECLARE_METATYPE(Deadline)
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(Release)
Q_DECLARE_METATYPE(Limited)

class ResonancesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Nothing can start during the window, which ends 0.18 + 0.15 s after the reply without a
    // request; an impulse leaves no effect behind.
    void sequenceWindowAndImpulse() {
        ControllerFixture f;
        f.c().sequence();
        f.advance(0.01);
        f.ok();
        const double replied = f.now();
        QVERIFY(f.c().effectRunning() && !f.c().controlsEnabled());
        f.advanceTo(replied + 0.329);
        for (const Setup &start : {sequence, timed, controlled, gesture}) {
            start(f);
        }
        f.c().impulse(QStringLiteral("crisp"));
        f.c().beginGesture(false);
        f.c().beginCueDrag();
        f.c().verifyConnection();
        QCOMPARE(f.count(), 1);
        f.advanceTo(replied + 0.3301);
        QVERIFY(!f.c().effectRunning() && !f.c().effectAddress().has_value() && f.c().controlsEnabled());
        QCOMPARE(f.count(), 1);
        f.c().impulse(QStringLiteral("natural"));
        QCOMPARE(f.paths(), (QStringList{paths::sequences, paths::impulses}));
        QVERIFY(f.c().effectAddress().has_value());
        f.ok({{QStringLiteral("emitted"), true}});
        QVERIFY(!f.c().effectAddress().has_value() && !f.c().effectRunning() && f.c().controlsEnabled());
        f.advance(2);
        QCOMPARE(f.count(), 2);
    }

    void editableControlsInEveryPhase_data() {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("expected");
        const auto confirmed = [](const Setup &start) {
            return Setup([start](ControllerFixture &f) { start(f), f.ok(); });
        };
        // Stopped at once: while a start is in flight, the stop waits.
        const auto stopped = [](const Setup &start) {
            return Setup([start](ControllerFixture &f) { start(f), f.c().stop(); });
        };
        QTest::newRow("idle") << Setup([](ControllerFixture &) {}) << "111111";
        QTest::newRow("impulse in flight")
            << Setup([](ControllerFixture &f) { f.c().impulse("soft"); }) << "000000";
        QTest::newRow("sequence window") << confirmed(sequence) << "000000";
        QTest::newRow("timed starting") << timed << "000110";
        QTest::newRow("timed running") << confirmed(timed) << "000110";
        QTest::newRow("timed, stop pending") << stopped(timed) << "000000";
        QTest::newRow("controlled starting") << controlled << "000001";
        QTest::newRow("controlled, stop pending") << stopped(controlled) << "000000";
        QTest::newRow("controlled, stop in flight") << stopped(confirmed(controlled)) << "000001";
        QTest::newRow("gesture running") << confirmed(gesture) << "001010";
        QTest::newRow("gesture, stop pending") << stopped(gesture) << "000000";
        QTest::newRow("cue release pending") << Setup([](ControllerFixture &f) {
            f.c().beginCueDrag();
            f.ok();
            f.c().updateCueDrag(100);
            f.c().endCueDrag();
            f.ok();
        }) << "000000";
        QTest::newRow("after the stop reply") << confirmed(stopped(confirmed(controlled))) << "111111";
    }
    void editableControlsInEveryPhase() {
        QFETCH(Setup, setup);
        QFETCH(QString, expected);
        ControllerFixture f;
        setup(f);
        QCOMPARE(editable(f.c()), expected);
    }

    // The 50 ms count from the previous send, not from its reply; each update carries the
    // value current when it leaves; the slider's last position reaches the service; updates
    // renew the lease, so no heartbeat goes out meanwhile.
    void sliderSweepIsThrottledAndSendsTheCurrentValue() {
        ControllerFixture f;
        f.startControlled();
        const double startSent = f.now() - 0.002;
        QList<double> currentAtSend;
        double value = 0;
        for (int i = 1; i <= 1200; ++i) { // a step every millisecond for a second, then rest
            if (i <= 1000) {
                f.c().setIntensity(value = 0.2 + i * 0.0005);
            }
            const int before = f.count();
            f.advance(0.001);
            if (f.count() > before) {
                currentAtSend.append(value);
            }
            if (f.transport->openCount() > 0 && f.now() - f.last().at >= 0.005 - eps) {
                f.ok(); // the service answers after 5 ms
            }
        }
        const auto updates = f.requestsTo(paths::update);
        QCOMPARE(f.count(), updates.size());
        QVERIFY2(updates.size() >= 18 && updates.size() <= 21, qPrintable(QString::number(updates.size())));
        QVERIFY(updates.first().at >= startSent + 0.05 - eps);
        for (int i = 0; i < updates.size(); ++i) {
            QCOMPARE(updates.at(i).json(), obj("intensity", currentAtSend.at(i)));
            const double gap = i > 0 ? updates.at(i).at - updates.at(i - 1).at : 0.05;
            QVERIFY2(gap >= 0.05 - eps && gap <= 0.0515, qPrintable(QString::number(gap)));
        }
        QCOMPARE(updates.last().json(), obj("intensity", value));
    }

    // A change waits for the reply to the request in flight and for its turn, 50 ms after the last
    // live update (the start counts as one, a heartbeat does not); nothing overtakes.
    void changeWaitsForTheRequestInFlight_data() {
        QTest::addColumn<bool>("heartbeat"); // in flight; else the start
        QTest::addColumn<double>("replyAfter");
        QTest::addColumn<double>("sentAfter"); // both from the send of the request in flight
        QTest::newRow("start answered within the turn: at 50 ms") << false << 0.030 << 0.050;
        QTest::newRow("start answered after the turn: 1 ms after") << false << 0.080 << 0.081;
        QTest::newRow("heartbeat answered: at once") << true << 0.030 << 0.031;
    }
    void changeWaitsForTheRequestInFlight() {
        QFETCH(bool, heartbeat);
        QFETCH(double, replyAfter);
        QFETCH(double, sentAfter);
        ControllerFixture f;
        if (heartbeat) {
            f.startControlled();
            QVERIFY(f.advanceUntilCount(1, 0.6));
            QCOMPARE(f.last().path(), paths::heartbeat);
        } else {
            f.c().controlledResonance();
        }
        const double sent = f.last().at;
        f.advance(0.005);
        f.c().setIntensity(0.9);
        f.advanceTo(sent + replyAfter);
        QCOMPARE(f.count(), 1);
        f.ok();
        QVERIFY(f.advanceUntilCount(2, 0.2));
        QCOMPARE(f.last().path(), paths::update);
        QCOMPARE(f.last().json(), obj("intensity", 0.9));
        VERIFY_NEAR(f.last().at - sent, sentAfter, 0.0006);
    }

    // All seven parameters change within one turn (duration 5000 -> 6000.5 ms, transition 40 -> 40.4 ms):
    // one body with the mode's keys only, milliseconds rounded half away from zero, compared unrounded
    // (a change within the same whole millisecond still travels).
    void onlyTheModesKeysTravelRounded_data() {
        QTest::addColumn<Setup>("start");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("gesture") << gesture
                                 << QByteArray(R"({"fineness":0.72,"intensity":0.71,"reactivity":0.73})");
        QTest::newRow("timed") << timed
                               << QByteArray(R"({"durationMs":6001,"fineness":0.72,"intensity":0.71})");
        QTest::newRow("controlled")
            << controlled
            << QByteArray(R"({"intensity":0.71,"pulseRateHz":17,"sharpness":0.74,"transitionMs":40})");
    }
    void onlyTheModesKeysTravelRounded() {
        QFETCH(Setup, start);
        QFETCH(QByteArray, body);
        ControllerFixture f;
        startConfirmed(f, start);
        f.advance(0.1);
        auto &c = f.c();
        c.setIntensity(0.71);
        c.setFineness(0.72);
        c.setReactivity(0.73);
        c.setDurationMilliseconds(6000.5);
        c.setPulseRateHz(17);
        c.setSharpness(0.74);
        c.setTransitionMilliseconds(40.4);
        f.runWithPromptReplies(0.3);
        QCOMPARE(f.paths(), QStringList{paths::update}); // the dropped keys were not kept either
        QCOMPARE(f.last().rawBody(), body);
    }

    // A failed start, update or heartbeat stops the effect where it runs, not at a later address field;
    // a change queued behind it dies with it, and nothing follows. Beats go every 0.5 s after the start
    // reply, a change made while idle is not kept for later, and successful updates and beats are not
    // logged.
    void failedRequestStopsWhereTheEffectRuns_data() {
        QTest::addColumn<Setup>("start");
        QTest::addColumn<QString>("failing");
        QTest::newRow("sequence, error reply") << sequence << "reply";
        QTest::newRow("sequence, transport failure") << sequence << "transport";
        QTest::newRow("timed, error reply") << timed << "reply";
        QTest::newRow("controlled, transport failure") << controlled << "transport";
        QTest::newRow("gesture, transport failure") << gesture << "transport";
        QTest::newRow("update") << controlled << "update";
        QTest::newRow("heartbeat") << controlled << "heartbeat";
    }
    void failedRequestStopsWhereTheEffectRuns() {
        QFETCH(Setup, start);
        QFETCH(QString, failing);
        ControllerFixture f(QStringLiteral(" http://127.0.0.1:59723/ "));
        f.c().setPulseRateHz(44);
        start(f);
        f.c().setAddress(QStringLiteral("http://127.0.0.1:1"));
        const bool running = failing == "update" || failing == "heartbeat";
        if (failing == "reply") {
            f.transport->reply(500, "not json");
        } else if (failing == "transport") {
            f.transport->fail();
        } else {
            f.advance(0.002);
            f.ok();
            const auto logBefore = f.c().entries();
            f.runWithPromptReplies(1.6);
            const QStringList beats{paths::heartbeat, paths::heartbeat, paths::heartbeat};
            QCOMPARE(f.paths(), QStringList{paths::resonance} + beats);
            f.c().setIntensity(0.2);
            f.advance(0.001);
            QCOMPARE(f.lastUrl(), home + paths::update);
            f.advance(0.007);
            f.ok();
            QCOMPARE(f.c().entries(), logBefore);
            QCOMPARE(f.c().status(), QStringLiteral("Parametri aggiornati \u00B7 7 ms"));
            if (failing == "heartbeat") {
                QVERIFY(f.advanceUntilCount(6, 1.0));
                QCOMPARE(f.last().path(), paths::heartbeat);
                f.failWith(410);
            } else {
                f.c().setIntensity(0.3);
                f.advance(0.1);
                f.c().setSharpness(0.9);
                f.failWith(500);
            }
        }
        const int sent = running ? 7 : 2;
        QCOMPARE(f.count(), sent);
        QCOMPARE(f.lastUrl(), home + paths::stop);
        QVERIFY(f.c().entries().first().failed && !f.c().effectEndPending() && !f.c().heartbeatActive());
        QVERIFY(!f.c().gestureWanted() && !f.c().continuousGesture());
        QCOMPARE(f.c().effectRunning(), running); // until the stop is answered
        f.ok();
        QVERIFY(!f.c().effectRunning() && !f.c().resonanceMode().has_value() && f.c().controlsEnabled());
        QCOMPARE(f.c().status(), QStringLiteral("Feedback fermato."));
        f.advance(3);
        QCOMPARE(f.count(), sent);
    }

    // A slow reply renews the lease late; a tick that finds it younger than 0.45 s sends no beat, and
    // the beat waits one tick, no more.
    void heartbeatWaitsForALeaseThatIsOldEnough() {
        ControllerFixture f;
        f.c().controlledResonance();
        f.ok();
        const double confirmed = f.now();
        f.advanceTo(confirmed + 0.5);
        QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::heartbeat}));
        QCOMPARE(f.last().rawBody(), QByteArray("{}"));
        f.advanceTo(confirmed + 0.54); // renewed 0.46 s before the next tick
        f.ok();
        f.advanceTo(confirmed + 1.0001);
        QCOMPARE(f.countOf(paths::heartbeat), 2);
        f.advanceTo(confirmed + 1.06); // renewed 0.44 s before the next tick
        f.ok();
        f.advanceTo(confirmed + 1.5001);
        QCOMPARE(f.countOf(paths::heartbeat), 2);
        f.advanceTo(confirmed + 2.0001);
        QCOMPARE(f.countOf(paths::heartbeat), 3);
        VERIFY_NEAR(f.last().at, confirmed + 2.0, 1e-6);
    }

    // Which replies renew the lease, at the moment they arrive.
    void whichRepliesRenewTheLease_data() {
        QTest::addColumn<QString>("request"); // in flight when the reply comes
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("renews");
        for (const char *request :
             {"controlled", "gesture", "pause", "resume", "heartbeat", "update, controlled"})
            QTest::newRow(request) << request << true << true;
        for (const char *request : {"update, timed", "timed", "impulse", "sequence", "status", "stop"})
            QTest::newRow(request) << request << true << false;
        QTest::newRow("pause, failed") << "pause" << false << false;
    }
    void whichRepliesRenewTheLease() {
        QFETCH(QString, request);
        QFETCH(bool, ok);
        QFETCH(bool, renews);
        ControllerFixture f;
        auto &c = f.c();
        const QHash<QString, std::function<void()>> starts{{"controlled", [&] { c.controlledResonance(); }},
                                                           {"gesture", [&] { c.beginGesture(true); }},
                                                           {"timed", [&] { c.timedResonance(); }},
                                                           {"impulse", [&] { c.impulse("crisp"); }},
                                                           {"sequence", [&] { c.sequence(); }},
                                                           {"status", [&] { c.verifyConnection(); }},
                                                           {"stop", [&] { c.stop(); }}};
        if (starts.contains(request)) {
            starts.value(request)();
        } else { // within a running resonance
            startConfirmed(f, request == "update, timed" ? timed : controlled);
            if (request == "resume") {
                c.togglePause();
                QVERIFY(f.advanceUntilCount(1, 0.1));
                f.ok(paused);
            }
            if (request.startsWith("update"))
                c.setIntensity(0.3);
            else if (request != "heartbeat")
                c.togglePause(); // the heartbeat comes by itself
            QVERIFY(f.advanceUntilCount(f.count() + 1, 0.6));
            QCOMPARE(f.last().path(), request == "heartbeat"         ? paths::heartbeat
                                      : request.startsWith("update") ? paths::update
                                                                     : "/v1/resonance/" + request);
        }
        const double before = c.lastLeaseRenewal();
        f.advance(0.007);
        ok ? f.ok() : f.failWith(500);
        QCOMPARE(c.lastLeaseRenewal(), renews ? f.now() : before);
    }

    // Pause only in controlled mode; pressed twice, or again while in flight, it sends one pause.
    // The state follows the service's "paused" only: a reply without it offers the same action.
    void pause() {
        ControllerFixture f;
        f.c().togglePause();
        f.c().beginGesture(true);
        f.ok();
        f.c().togglePause();
        f.advance(0.3);
        f.c().stop();
        QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::stop}));
        f.ok();
        f.startControlled();
        f.advance(0.1);
        f.c().togglePause();
        f.c().togglePause(); // twice before the throttle fires
        f.advance(0.002);
        f.c().togglePause(); // once more while the pause is in flight
        f.advance(0.01);
        f.ok(paused);
        f.runWithPromptReplies(0.3);
        QCOMPARE(f.paths(), QStringList{paths::pause});
        QVERIFY(f.c().controlledPaused());
        f.c().togglePause(); // pressed once paused, it resumes
        f.runWithPromptReplies(0.1);
        QVERIFY(!f.c().controlledPaused());
        f.c().togglePause();
        f.advance(0.002);
        f.ok(); // no "paused" member
        QVERIFY(!f.c().controlledPaused());
        f.c().togglePause();
        f.advance(0.1);
        QCOMPARE(f.paths(), (QStringList{paths::pause, paths::resume, paths::pause, paths::pause}));
        f.ok(paused);
        f.c().stop();
        f.ok();

        // Order within one turn: pause before queued updates, updates before resume; 50 ms apart.
        f.c().controlledResonance();
        const double startSent = f.now();
        f.ok();
        f.transport->clearSent();
        f.advance(0.01);
        f.c().setIntensity(0.8);
        f.c().togglePause();
        f.advanceTo(startSent + 0.05);
        QCOMPARE(f.paths(), QStringList{paths::pause});
        f.advance(0.004);
        f.ok(paused);
        f.advance(0.1);
        QCOMPARE(f.last().json(), obj("intensity", 0.8));
        VERIFY_NEAR(f.last().at - startSent, 0.1, 1e-6);
        f.ok();
        f.c().setSharpness(0.1);
        f.c().togglePause();
        f.advance(0.01);
        QCOMPARE(f.last().json(), obj("sharpness", 0.1));
        f.ok();
        f.advance(0.1);
        QCOMPARE(f.paths(), (QStringList{paths::pause, paths::update, paths::update, paths::resume}));
        QCOMPARE(f.last().rawBody(), QByteArray("{}"));
        VERIFY_NEAR(f.last().at - f.transport->sent().at(2).at, 0.05, 1e-6);
        f.ok({{QStringLiteral("paused"), false}});
        QVERIFY(!f.c().controlledPaused());
    }

    // The start is answered after 20 ms; a change goes out at 121 ms and is answered at 125 ms.
    // An "activeEffect": "none" in a reply ends the effect there: no stop follows.
    void stopsAtTheDeadlinePlusMargin_data() {
        const auto left = [](double ms) { return QJsonObject{{"remainingDurationMs", ms}}; };
        const QJsonObject ended{{"activeEffect", "none"}};
        rows<Deadline>({
            {"300 ms", {300, {}, {}, 0, {}, 0.45}},
            {"250.5 ms rounded to 251", {250.5, {}, {}, 0, {}, 0.401}},
            {"remaining 1000 ms, from the reply", {300, left(1000), {}, 0, {}, 1.17}},
            {"negative remaining: at the reply", {300, left(-250), {}, 0, {}, 0.17}},
            {"fractional remaining", {300, left(100.5), {}, 0, {}, 0.2705}},
            {"lengthened: from the start", {300, {}, "durationMs", 1200, {}, 1.35}},
            {"shortened below the elapsed time", {2000, {}, "durationMs", 50, {}, 0.275}},
            {"the update's remaining wins", {300, {}, "durationMs", 900, left(400), 0.675}},
            {"no duration sent: remaining ignored", {300, {}, "intensity", 0.9, left(5000), 0.45}},
            {"ended in the start reply", {300, ended, {}, 0, {}, none}},
            {"ended in an update reply", {300, {}, "intensity", 0.7, ended, none}},
        });
    }
    void stopsAtTheDeadlinePlusMargin() {
        QFETCH(Deadline, row);
        ControllerFixture f;
        f.c().setDurationMilliseconds(row.durationMs);
        f.c().timedResonance();
        const double startSent = f.now();
        f.advance(0.02);
        f.ok(row.startReply);
        if (!row.key.isEmpty()) {
            f.advance(0.1);
            row.key == "intensity" ? f.c().setIntensity(row.value) : f.c().setDurationMilliseconds(row.value);
            f.advance(0.001);
            QCOMPARE(f.last().json(), obj(row.key, row.value));
            f.advance(0.004);
            f.ok(row.updateReply);
        }
        const bool stops = !std::isnan(row.stopAfterStart);
        const int requests = (row.key.isEmpty() ? 1 : 2) + (stops ? 1 : 0);
        f.advance(3);
        QCOMPARE(f.count(), requests); // no heartbeat, one stop at most
        if (stops) {
            QCOMPARE(f.last().path(), paths::stop);
            VERIFY_NEAR(f.last().at - startSent, row.stopAfterStart, 1e-6);
            QCOMPARE(f.last().rawBody(), QByteArray("{}"));
            QVERIFY(f.c().effectRunning()); // until the stop is answered
            f.ok();
        }
        QVERIFY(!f.c().effectRunning() && !f.c().resonanceMode().has_value() && f.c().controlsEnabled());
        f.advance(2);
        QCOMPARE(f.count(), requests);
    }

    // The release sends the stop where the drag began (not to a later address field), once the
    // request in flight has its reply. Once the stop is answered, the release impulse follows with
    // the charge at release, at least 50 ms after the last live update; none for a charge up to
    // 0.02, after a failed request, or when quitting, Esc or a lost foreground comes first.
    void release_data() {
        rows<Release>({
            {"4.4 points: charge exactly 0.02", {4.4, "", "", none}},
            {"5 points: charge 0.0227", {5, "", "", 0.011}},
            {"during the start: 50 ms after it", {100, "start", "", 0.041}},
            {"during an update: 50 ms after it", {100, "update", "", 0.042}},
            {"during an update that fails", {100, "update", "fails", none}},
            {"quit before the stop reply", {150, "", "quit first", none}},
            {"Esc before the stop reply", {150, "", "Esc first", none}},
            {"loss of the foreground before the stop reply", {150, "", "deactivation first", none}},
            {"the stop fails", {150, "", "failed stop", none}},
            {"Esc while the impulse waits for its turn", {150, "", "Esc", none}},
            {"loss of the foreground while the impulse waits", {150, "", "deactivation", none}},
            {"quit while the impulse waits", {150, "", "quit", none}},
        });
    }
    void release() {
        QFETCH(Release, row);
        ControllerFixture f(QStringLiteral("http://127.0.0.1:59723/"));
        row.inFlight == "start" ? f.c().beginCueDrag() : dragTo(f, row.pull);
        f.c().setAddress(QStringLiteral("http://127.0.0.1:41000"));
        f.advance(0.001);
        if (row.inFlight == "start") {
            f.c().updateCueDrag(row.pull); // the update queued behind the start dies with the drag
        } else if (row.inFlight.isEmpty()) {
            f.runWithPromptReplies(0.1);
        }
        const int sent = f.count();
        f.advance(0.003);
        f.c().endCueDrag();
        if (!row.inFlight.isEmpty()) {
            QCOMPARE(f.count(), sent);
            f.advance(0.005);
            row.then == "fails" ? f.transport->fail() : f.ok();
        }
        QCOMPARE(f.lastUrl(), home + paths::stop); // never an impulse before the stop is confirmed
        QCOMPARE(f.last().at, f.now());
        QVERIFY(!f.c().heartbeatActive());
        const double stopSent = f.now();
        int terminated = 0;
        const auto automaticStop = [&](const QString &how) {
            if (how == "Esc") {
                f.c().stop();
            } else if (how == "deactivation") {
                f.c().stopOnDeactivation(QStringLiteral("perso il primo piano"));
            } else {
                f.c().stopForTermination([&terminated] { ++terminated; });
            }
        };
        if (row.then.endsWith(" first")) {
            automaticStop(row.then.chopped(6));
        }
        f.advance(0.01);
        row.then == "failed stop" ? f.failWith(500) : f.ok();
        QCOMPARE(terminated, row.then == "quit first" ? 1 : 0);
        const bool impulse = !std::isnan(row.impulseAfterStop);
        const bool waiting = impulse || QStringList{"Esc", "deactivation", "quit"}.contains(row.then);
        QCOMPARE(f.c().releasePending(), waiting);
        QCOMPARE(f.c().controlsEnabled(), !waiting);
        QStringList expected{paths::resonance, paths::update, paths::stop};
        if (row.inFlight == "start") {
            expected.removeAll(paths::update);
        }
        if (waiting && !impulse) { // the effect is over, so this stop goes to the address field
            QVERIFY(!f.c().effectAddress() && !f.c().effectRunning());
            automaticStop(row.then);
            QCOMPARE(f.lastUrl(), QStringLiteral("http://127.0.0.1:41000/v1/stop"));
            QCOMPARE(terminated, 0);
            f.ok();
            QCOMPARE(terminated, row.then == "quit" ? 1 : 0);
            QVERIFY(!f.c().releasePending());
            expected.append(paths::stop);
        }
        f.runWithPromptReplies(0.5);
        QCOMPARE(f.pathsWithoutHeartbeats(), impulse ? expected << paths::impulses : expected);
        QVERIFY(!f.c().releasePending() && f.c().controlsEnabled());
        if (impulse) {
            QCOMPARE(f.lastUrl(), home + paths::impulses);
            VERIFY_NEAR(f.last().at - stopSent, row.impulseAfterStop, 1e-6);
            QCOMPARE(f.last().json(),
                     (QJsonObject{{"intensity", TensionCurve{}.sample(row.pull / 220).intensity},
                                  {"style", "crisp"}}));
        }
    }

    // "maintain" never pauses. With "pause", 0.25 s without real movement (tremor up to 0.02
    // points is none) pauses, counted from the last movement or from the switch; movement sends
    // the new values, then the resume; the heartbeat keeps the paused resonance alive. Switching
    // back to "maintain" resumes at once, or cancels a rest still counting.
    void restDetectorAndHoldBehaviour() {
        ControllerFixture f;
        QCOMPARE(f.c().holdBehavior(), HoldBehavior::maintain);
        dragTo(f, 50);
        f.runWithPromptReplies(0.6);
        QCOMPARE(f.countOf(paths::pause), 0);
        f.c().setHoldBehavior(HoldBehavior::pause);
        for (const double pull : {60.0, 70.0}) { // movements 0.2 s apart
            f.runWithPromptReplies(0.2);
            f.c().updateCueDrag(pull);
        }
        const double moved = f.now();
        f.runWithPromptReplies(0.2);
        f.c().updateCueDrag(70.01);
        f.runWithPromptReplies(0.1);
        QCOMPARE(f.countOf(paths::pause), 1);
        VERIFY_NEAR(f.requestsTo(paths::pause).first().at, moved + 0.251, 1e-6);
        QVERIFY(f.c().controlledPaused());

        f.c().updateCueDrag(80);
        const double movedAgain = f.now();
        f.runWithPromptReplies(0.2);
        const QStringList sent = f.pathsWithoutHeartbeats();
        QCOMPARE(sent.mid(sent.size() - 3), (QStringList{paths::pause, paths::update, paths::resume}));
        QCOMPARE(f.requestsTo(paths::update).last().json(), curveValues(80.0 / 220));
        QVERIFY(!f.c().controlledPaused());
        f.runWithPromptReplies(1.0);
        VERIFY_NEAR(f.requestsTo(paths::pause).last().at, movedAgain + 0.251, 1e-6);
        QVERIFY(f.countOf(paths::heartbeat) >= 1);
        QCOMPARE(f.countOf(paths::pause), 2);

        f.c().setHoldBehavior(HoldBehavior::maintain); // paused: resumes at once
        const double resumed = f.now();
        f.runWithPromptReplies(0.01);
        QCOMPARE(f.last().path(), paths::resume);
        VERIFY_NEAR(f.last().at, resumed + 0.001, 1e-6);
        f.c().setHoldBehavior(HoldBehavior::pause); // the rest counts from the switch
        f.runWithPromptReplies(0.3);
        VERIFY_NEAR(f.requestsTo(paths::pause).last().at, resumed + 0.01 + 0.251, 1e-6);
        f.c().updateCueDrag(90);
        f.runWithPromptReplies(0.1);
        f.c().setHoldBehavior(HoldBehavior::maintain); // before the rest: cancels it, sends nothing
        const int before = f.pathsWithoutHeartbeats().size();
        f.runWithPromptReplies(1.0);
        QCOMPARE(f.pathsWithoutHeartbeats().size(), before);
        QVERIFY(f.c().cueDragging());
    }

    // A drag that cannot start drives nothing; a failed start ends the drag and shows no leftover
    // charge; outside a drag a curve edit only stores; non-finite pulls are ignored and do not move
    // the reference for the next movement.
    void dragsAndCurveEdits() {
        ControllerFixture f;
        f.c().impulse(QStringLiteral("crisp")); // in flight: the controls are disabled
        f.c().beginCueDrag();
        QVERIFY(!f.c().cueDragging());
        QCOMPARE(f.c().intensity(), 0.5); // the curve's start values were not applied
        f.c().updateCueDrag(100);
        f.ok();
        f.c().endCueDrag();
        QCOMPARE(f.c().cueCharge(), 0.0);
        QCOMPARE(f.paths(), QStringList{paths::impulses});

        f.c().beginCueDrag();
        f.advance(0.01);
        f.c().updateCueDrag(90);
        f.transport->replyJson(409, {{"ok", false}, {"error", "busy"}});
        QVERIFY(!f.c().cueDragging());
        QCOMPARE(f.c().cueCharge(), 0.0);
        f.c().updateCueDrag(150);
        f.c().endCueDrag();
        f.ok();
        f.runWithPromptReplies(0.5);
        QCOMPARE(f.paths(), (QStringList{paths::impulses, paths::resonance, paths::stop}));

        f.startControlled();
        const double intensity = f.c().intensity();
        TensionCurve curve;
        curve.lowIntensity = 0.3;
        f.c().setTensionCurve(curve);
        QCOMPARE(f.c().intensity(), intensity);
        f.runWithPromptReplies(0.3);
        f.c().stop();
        f.ok();
        QCOMPARE(f.paths(), QStringList{paths::stop});

        dragTo(f, 100);
        const double charge = f.c().cueCharge();
        for (const double pull : {none, kInf, -kInf, 100.01}) {
            f.c().updateCueDrag(pull);
            QCOMPARE(f.c().cueCharge(), charge);
        }
        f.c().updateCueDrag(100.5);
        QVERIFY(f.c().cueCharge() > charge);

        // A curve edit during the drag sends the new values at once; later pulls sample the new
        // curve, and so does the release.
        f.runWithPromptReplies(0.2);
        TensionCurve edited = f.c().tensionCurve();
        edited.highIntensity = 0.6;
        edited.highCadence = 40;
        f.c().setTensionCurve(edited);
        const double editedAt = f.now();
        f.runWithPromptReplies(0.01);
        VERIFY_NEAR(f.requestsTo(paths::update).last().at, editedAt + 0.001, 1e-6);
        QJsonObject expected = curveValues(f.c().cueCharge(), edited);
        expected.remove("sharpness"); // unchanged, so not sent
        QCOMPARE(f.requestsTo(paths::update).last().json(), expected);
        f.advance(0.1);
        f.c().updateCueDrag(300);
        QCOMPARE(f.c().cueCharge(), 1.0); // beyond 220 points: a full pull
        f.runWithPromptReplies(0.01);
        QCOMPARE(f.last().json()["intensity"].toDouble(), edited.sample(1).intensity);
        f.c().endCueDrag();
        f.runWithPromptReplies(0.2);
        QCOMPARE(f.last().path(), paths::impulses);
        QCOMPARE(f.last().json()["intensity"].toDouble(), edited.sample(1).intensity);
    }

    // Every parameter runs from its start to its end value along charge^exponent; a charge outside
    // [0, 1] acts as the nearest end (NaN and +inf as 0).
    void shapeAndLimits_data() {
        const QList<double> full{0, 1, 1, 60, 0, 1}, initial{0.08, 0.8, 8, 55, 0.1, 0.9};
        rows<Limited>({
            {"initial", {{}, 1.7, initial}},
            {"rising", {{2.3, 0.21, 0.77, 3.5, 41, 0.33, 0.66}, 2.3, {0.21, 0.77, 3.5, 41, 0.33, 0.66}}},
            {"falling, constant", {{1.7, 0.9, 0.2, 55, 55, 0.5, 0.5}, 1.7, {0.9, 0.2, 55, 55, 0.5, 0.5}}},
            {"exponent 0.1 -> 0.25", {{0.1}, 0.25, initial}},
            {"exponent 9 -> 4", {{9}, 4, initial}},
            {"exponent NaN -> 1", {{none}, 1, initial}},
            {"exponent +inf -> 1, not 4", {{kInf}, 1, initial}},
            {"exponent -inf -> 1, not 0.25", {{-kInf}, 1, initial}},
            {"all beyond", {{1, -0.5, 1.5, 0, 90, -0.1, 1.5}, 1, full}},
            {"start above the top, end below the bottom",
             {{1, 1.2, -0.2, 75, 0.5, 2, -1}, 1, {1, 0, 60, 1, 1, 0}}},
            // A non-finite field takes its fallback (the full range), not the bound it lies beyond.
            {"NaN", {{1, none, none, none, none, none, none}, 1, full}},
            {"+inf starts", {{1, kInf, 0.7, kInf, 50, kInf, 0.6}, 1, {0, 0.7, 1, 50, 0, 0.6}}},
            {"-inf ends", {{1, 0.2, -kInf, 5, -kInf, 0.3, -kInf}, 1, {0.2, 1, 5, 60, 0.3, 1}}},
        });
    }
    void shapeAndLimits() {
        QFETCH(Limited, row);
        const QList<double> &e = row.ends;
        for (const double charge : {-0.3, 0.0, 0.1, 0.25, 0.5, 0.9, 1.0, 1.7, none, kInf}) {
            const double c = std::isfinite(charge) ? std::clamp(charge, 0.0, 1.0) : 0.0;
            const double shape = std::pow(c, row.exponent);
            const auto s = row.curve.sample(charge);
            VERIFY_NEAR(s.intensity, e[0] + (e[1] - e[0]) * shape, 1e-12);
            VERIFY_NEAR(s.cadence, e[2] + (e[3] - e[2]) * shape, 1e-10);
            VERIFY_NEAR(s.sharpness, e[4] + (e[5] - e[4]) * shape, 1e-12);
        }
    }

    // A curve edit notifies the window only when the curve differs: a field left out of the
    // comparison would hide an edit. A NaN field never compares equal.
    void equalityComparesEveryField() {
        const TensionCurve a;
        QVERIFY(a == TensionCurve{});
        for (auto field : {&TensionCurve::exponent, &TensionCurve::lowIntensity, &TensionCurve::highIntensity,
                           &TensionCurve::lowCadence, &TensionCurve::highCadence, &TensionCurve::lowSharpness,
                           &TensionCurve::highSharpness}) {
            TensionCurve changed = a;
            changed.*field += 0.001;
            QVERIFY(!(changed == a));
            changed.*field = none;
            const TensionCurve copy = changed;
            QVERIFY(!(changed == copy));
        }
    }
};

QTEST_GUILESS_MAIN(ResonancesTest)
#include "test_resonances.moc"
