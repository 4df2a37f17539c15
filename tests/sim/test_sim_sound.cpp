// The simulated trackpad made audible and visible: from timeline events to pulses, samples and
// the strip's geometry, checked with exact numbers; then a whole tester session against the real
// sim over HTTP, in its timeline and its WAV file.

#include "PlayTrack.h"
#include "SimHarness.h"
#include "SoundFeed.h"
#include "SoundRenderer.h"
#include "StripGeometry.h"

#include "api/NetworkTransport.h"
#include "core/TesterController.h"
#include "core/TimeSource.h"

#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <csignal>
#include <vector>

using namespace vibrelle;
using namespace vibrelle::sim;
using namespace vibrelle::simtest;

namespace {

constexpr double rate = SoundRenderer::sampleRate / 1000.0; // samples per ms

QJsonObject controlled(double intensity, double pulseRateHz, double sharpness, double transitionMs = 0) {
    return {{"effect", "controlled"},
            {"params", QJsonObject{{"intensity", intensity},
                                   {"pulseRateHz", pulseRateHz},
                                   {"sharpness", sharpness},
                                   {"transitionMs", transitionMs}}}};
}
QJsonObject changed(const QJsonObject &values) {
    return {{"effect", "controlled"}, {"changed", values}};
}
QJsonObject ended(const char *effect, const char *reason = "stop") {
    return {{"effect", effect}, {"reason", reason}};
}
QJsonObject impulse(const char *style, double intensity) {
    return {{"effect", "impulse"}, {"params", QJsonObject{{"intensity", intensity}, {"style", style}}}};
}

// The sound of the whole track from time 0 to `untilMs`.
std::vector<float> render(PlayTrack &track, double untilMs) {
    std::vector<float> samples(size_t(untilMs * rate), 0.0f);
    SoundRenderer::mix(track.pulses(-SoundRenderer::longestClickMs, untilMs), 0, samples.data(),
                       qsizetype(samples.size()));
    return samples;
}

// The samples of a mono 16-bit PCM WAV at 48 kHz, scaled to ±1; empty unless the header is
// complete and its sizes agree with the file's.
std::vector<float> readWav(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    if (bytes.size() < 44 || !bytes.startsWith("RIFF") || bytes.mid(8, 8) != "WAVEfmt " ||
        bytes.mid(36, 4) != "data" || u32(4) != quint32(bytes.size() - 8) ||
        u32(40) != quint32(bytes.size() - 44) || u16(20) != 1 || u16(22) != 1 || u32(24) != 48000 ||
        u16(34) != 16)
        return {};
    std::vector<float> samples(size_t(bytes.size() - 44) / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(qFromLittleEndian<qint16>(bytes.constData() + 44 + 2 * i)) / 32767.0f;
    return samples;
}

// Where clicks start: samples at or above `threshold` with none that high in the millisecond before.
std::vector<qint64> onsets(const std::vector<float> &samples, float threshold, qint64 from = 0,
                           qint64 to = -1) {
    std::vector<qint64> found;
    qint64 lastLoud = -1000;
    to = to < 0 ? qint64(samples.size()) : qMin<qint64>(to, qint64(samples.size()));
    for (qint64 i = qMax<qint64>(from, 0); i < to; ++i) {
        if (std::abs(samples[size_t(i)]) < threshold)
            continue;
        if (i - lastLoud > 48)
            found.push_back(i);
        lastLoud = i;
    }
    return found;
}

float peak(const std::vector<float> &samples, qint64 from, qint64 to) {
    float p = 0;
    for (qint64 i = qMax<qint64>(from, 0); i < qMin<qint64>(to, qint64(samples.size())); ++i)
        p = qMax(p, std::abs(samples[size_t(i)]));
    return p;
}

} // namespace

class SimSoundTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void resonanceBeatsAtItsCadence_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("hz");           // the controlled rate, or the steady cadence
        QTest::addColumn<double>("character"); // sharpness or fineness
        QTest::newRow("controlled 60 imp/s, dull") << "controlled" << 60 << 0.0;
        QTest::newRow("controlled 7 imp/s, sharp") << "controlled" << 7 << 1.0;
        QTest::newRow("timed: the steady cadence") << "timed" << 50 << 0.3;
        QTest::newRow("gesture: the steady cadence") << "gesture" << 50 << 0.9;
    }

    // One second of resonance: one click per beat, the first on the start's sample and the others
    // 48000 / hz samples apart, none after the end.
    void resonanceBeatsAtItsCadence() {
        QFETCH(QString, mode);
        QFETCH(int, hz);
        QFETCH(double, character);
        PlayTrack track(2000);
        QJsonObject start = controlled(0.6, hz, character);
        if (mode != QLatin1String("controlled"))
            start = {
                {"effect", mode},
                {"params", QJsonObject{{"intensity", 0.6}, {"fineness", character}, {"durationMs", 1000}}}};
        track.apply(250.25, "start", start);
        track.apply(1250.25, "end", ended(qPrintable(mode)));
        const std::vector<float> samples = render(track, 1500);
        const std::vector<qint64> found = onsets(samples, 0.1f);
        QCOMPARE(int(found.size()), hz);
        QCOMPARE(found.front(), SoundRenderer::sampleAt(250.25));
        for (size_t i = 1; i < found.size(); ++i)
            QVERIFY2(std::abs(double(found[i] - found[0]) - double(i) * 48000 / hz) <= 1,
                     qPrintable(QString::number(i)));
        QCOMPARE(peak(samples, 0, qint64(samples.size())), float(0.6 * SoundRenderer::fullScale));
    }

    // Loudness in proportion to intensity; a change ramps over transitionMs; after a pause the beats
    // start again on the resume's sample (none before); after the end, nothing.
    void loudnessRampsAndPauses() {
        PlayTrack track(2000);
        track.apply(0, "start", controlled(0.8, 25, 0.5, 0));
        track.apply(400, "update", changed({{"intensity", 0.4}}));
        track.apply(800, "update", changed({{"intensity", 1.0}, {"transitionMs", 400}}));
        track.apply(1400, "pause", {{"effect", "controlled"}});
        track.apply(1710, "resume", {{"effect", "controlled"}});
        track.apply(1900, "end", ended("controlled"));
        const std::vector<float> s = render(track, 2200);

        const double loud = peak(s, 0, 400 * rate), quiet = peak(s, 400 * rate, 800 * rate);
        QVERIFY2(std::abs(loud / quiet - 2) <= 0.1, qPrintable(QString::number(loud / quiet)));
        // Beats every 40 ms: from 800 ms the heights climb from 0.4 to 1.0 in ten even steps.
        for (int k = 0; k <= 10; ++k) {
            const double t = 800 + 40 * k;
            const double expected = SoundRenderer::fullScale * (0.4 + 0.6 * qMin(1.0, k / 10.0));
            QCOMPARE(qRound(s[size_t(SoundRenderer::sampleAt(t))] * 1e4), qRound(expected * 1e4));
        }
        QCOMPARE(onsets(s, 0.05f, 1401 * rate).front(), SoundRenderer::sampleAt(1710));
        QCOMPARE(peak(s, 1900 * rate + 0.9 * 40 * rate, qint64(s.size())), 0.0f);
    }

    // An impulse starts on the sample of its time at its full height; crisp clicks are the
    // shortest and brightest, soft ones the longest and dullest.
    void impulsesClickInTheirStyle() {
        double previousLength = 0, previousCrossings = 1e9;
        for (const char *style : {"crisp", "natural", "soft"}) {
            PlayTrack track(2000);
            track.apply(1234.567, "start", impulse(style, 0.7));
            const std::vector<float> s = render(track, 1400);
            const qint64 at = SoundRenderer::sampleAt(1234.567);
            QCOMPARE(at, qint64(59259));
            QCOMPARE(onsets(s, 0.01f), std::vector<qint64>{at});
            QCOMPARE(s[size_t(at)], float(0.7 * SoundRenderer::fullScale));
            qint64 last = at, crossings = 0;
            for (qint64 i = at + 1; i < qint64(s.size()); ++i) {
                if (std::abs(s[size_t(i)]) > 0.01f * s[size_t(at)])
                    last = i;
                crossings += (s[size_t(i)] < 0) != (s[size_t(i - 1)] < 0);
            }
            const double length = double(last - at) / rate;
            const double crossingsPerMs = crossings / length;
            QVERIFY2(length > previousLength && crossingsPerMs < previousCrossings, style);
            previousLength = length;
            previousCrossings = crossingsPerMs;
        }
    }

    // A sequence plays its steps at their delays; a stop drops the steps still to come.
    void sequenceStepsUntilStopped() {
        PlayTrack track(2000);
        const QJsonArray steps{QJsonObject{{"delayMs", 0}, {"intensity", 0.5}, {"style", "crisp"}},
                               QJsonObject{{"delayMs", 180}, {"intensity", 0.5}, {"style", "soft"}},
                               QJsonObject{{"delayMs", 400}, {"intensity", 0.5}, {"style", "soft"}}};
        track.apply(100, "start", {{"effect", "sequence"}});
        track.apply(100, "sequence", {{"steps", steps}});
        track.apply(500, "end", ended("sequence"));
        QCOMPARE(onsets(render(track, 1000), 0.05f),
                 (std::vector<qint64>{SoundRenderer::sampleAt(100), SoundRenderer::sampleAt(280)}));
    }

    // The feed hands quiet stretches over in one piece, renders the clicks, ticks only while
    // something sounds and lets the sink rest once the last click has rung out.
    void feedRestsWhenQuiet() {
        struct Sink : SoundSink {
            QStringList calls;
            std::vector<qint16> played;
            void play(const qint16 *samples, qint64 count) override {
                calls << QStringLiteral("play");
                played.insert(played.end(), samples, samples + count);
            }
            void silence(qint64 count) override { calls << QStringLiteral("silence %1").arg(count); }
            void rest() override { calls << QStringLiteral("rest"); }
        } sink;
        double now = 0;
        PlayTrack track(2000);
        SoundFeed feed(
            &track, [&now] { return now; }, &sink);
        track.apply(1000, "start", impulse("soft", 1.0));
        now = 1100;
        feed.catchUp();
        QCOMPARE(sink.calls, (QStringList{"silence 48000", "play"}));
        QVERIFY(feed.ticking());
        QCOMPARE(sink.played.front(), SoundRenderer::toPcm(SoundRenderer::fullScale));
        now =
            1000 + SoundRenderer::clickOf({1000, PulseKind::Soft, 1, 0, 0}).lengthMs + SoundFeed::holdMs - 1;
        feed.catchUp();
        QVERIFY(feed.ticking());
        now += 2;
        feed.catchUp();
        QCOMPARE(sink.calls.last(), QStringLiteral("rest"));
        QVERIFY(!feed.ticking());
        QCOMPARE(feed.renderedSamples(), SoundRenderer::sampleAt(now));
    }

    // The strip's five seconds: one bump per beat at the beat's place, as high as its intensity
    // and with edges as steep as its sharpness; impulses in their style's width; pauses and
    // request marks where they happened.
    void stripGeometry() {
        PlayTrack track(2000);
        track.apply(1000, "start", controlled(0.5, 30, 1.0));
        track.apply(4000, "update", changed({{"sharpness", 0.0}, {"intensity", 1.0}}));
        track.apply(5000, "pause", {{"effect", "controlled"}});
        track.apply(5500, "request", {{"path", "/v1/resonance/pause"}, {"status", 200}});
        track.apply(5600, "start", impulse("crisp", 1.0));
        track.apply(5800, "request", {{"path", "/v1/stop"}, {"status", 503}});
        track.apply(6000, "start", impulse("soft", 1.0));
        const StripGeometry g = StripGeometry::of(track, 6100, QSizeF(1000, 216));
        const double pxPerMs = 1000 / 5000.0, height = g.baseline - g.top;
        QCOMPARE(g.baseline, 208.0);
        // Beats from the start (just left of the edge at 1100 ms) to the pause: 4 s at 30 imp/s.
        const qsizetype beats = (g.trace.size() - 2) / 4;
        QCOMPARE(beats, 120);
        const auto bump = [&](qsizetype i) { return g.trace.mid(1 + 4 * i, 4); };
        QCOMPARE(bump(0).first().x(), (1000 - 1100) * pxPerMs);
        QCOMPARE(bump(1).first().x() - bump(0).first().x(), 1000 / 30.0 * pxPerMs);
        QCOMPARE(bump(0)[1].y(), g.baseline - 0.5 * height);
        QCOMPARE(bump(0)[1].x(), bump(0)[0].x()); // sharpness 1: upright edges
        QCOMPARE(bump(beats - 1)[1].y(), g.top);  // intensity 1 after the update
        QVERIFY(bump(beats - 1)[1].x() > bump(beats - 1)[0].x());
        QVERIFY(bump(beats - 1)[3].x() < (5000 - 1100) * pxPerMs);
        QCOMPARE(g.pauses, (QList<std::pair<double, double>>{{(5000 - 1100) * pxPerMs, 1000.0}}));

        QCOMPARE(g.impulses.size(), 2);
        const auto width = [](const QList<QPointF> &o) { return o.last().x() - o.first().x(); };
        QCOMPARE(g.impulses[0].first().x(), (5600 - 1100) * pxPerMs);
        QVERIFY(width(g.impulses[0]) < width(g.impulses[1]) / 4);
        const auto lowest = [](const QList<QPointF> &o) {
            return std::max_element(o.begin(), o.end(), [](QPointF a, QPointF b) { return a.y() < b.y(); })
                ->y();
        };
        QVERIFY(lowest(g.impulses[0]) > g.baseline); // the crisp rebound dips below the baseline
        QCOMPARE(lowest(g.impulses[1]), g.baseline); // the soft one does not
        QCOMPARE(g.marks.size(), 2);
        QCOMPARE(g.marks[0].x, (5500 - 1100) * pxPerMs);
        QVERIFY(!g.marks[0].failed && g.marks[1].failed);
    }

    // A resonance that runs for minutes keeps only its last seconds.
    void longRunsKeepOnlyTheRecentPast() {
        PlayTrack track(2000);
        track.apply(0, "start", controlled(0.5, 60, 0.5));
        for (double t = 0; t < 300000; t += 50) {
            track.apply(t, "update", changed({{"intensity", 0.3 + (int(t) % 1000) / 2000.0}}));
            track.pulses(t - 100, t);
        }
        const QList<Pulse> kept = track.pulses(-1, 300000);
        QVERIFY2(kept.size() <= (PlayTrack::keptMs + 100) * 60 / 1000,
                 qPrintable(QString::number(kept.size())));
        QCOMPARE(kept.last().tMs, 300000 - 1000 / 60.0);
        QVERIFY(track.resonance()->changes.size() < 200);
    }

    // A tester session against the real sim over HTTP, with the production transport and clock: a
    // controlled resonance, a change, a pause, the stop and an impulse. The sim's timeline holds
    // exactly those requests with the tester's headers, one at a time, the lease renewed in time
    // and never too early; its WAV file beats at the cadence, follows the change in loudness, is
    // silent while paused and stopped, and clicks once for the impulse.
    void testerSessionOverHttp() {
        const auto dir = vibrelle::rig::temporaryFolder();
        const QString wav = dir->filePath(QStringLiteral("session.wav"));
        SimProcess sim({QStringLiteral("--audio-file"), wav});
        QVERIFY(sim.port() != 0);
        TesterController controller(sim.address(), std::make_unique<NetworkTransport>(),
                                    std::make_shared<SystemTimeSource>());
        QTRY_VERIFY_WITH_TIMEOUT(!controller.busy(), 3000);
        QVERIFY2(controller.connected(), qPrintable(controller.status()));
        controller.setIntensity(0.8);
        controller.controlledResonance(); // 30 imp/s, changes ramped over 40 ms

        QTRY_VERIFY_WITH_TIMEOUT(controller.effectRunning() && !controller.busy(), 3000);
        QTest::qWait(700); // a heartbeat keeps the lease
        controller.setIntensity(0.4);
        QVERIFY(sim.waitForEvent(eventIs("update")));
        QTRY_VERIFY_WITH_TIMEOUT(controller.status().startsWith(QStringLiteral("Parametri aggiornati")),
                                 2000);
        QTest::qWait(500);
        // Complete while the sim runs (a read may fall between a write's data and its header).
        QTRY_VERIFY2_WITH_TIMEOUT(readWav(wav).size() > 48000, "the WAV file is complete while the sim runs",
                                  1000);
        controller.togglePause();
        QVERIFY(sim.waitForEvent(eventIs("pause")));
        QTest::qWait(400);
        controller.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!controller.effectRunning() && !controller.busy(), 3000);
        QCOMPARE(controller.status(), QStringLiteral("Feedback fermato."));
        QTest::qWait(300);
        controller.impulse(QStringLiteral("crisp"));
        QVERIFY(sim.waitForEvent(eventIs("end", {{"effect", "impulse"}})));
        QTRY_VERIFY_WITH_TIMEOUT(!controller.busy(), 3000);
        Client control(sim.port());
        const QJsonObject stats = statsOf(control);
        QCOMPARE(stats["maxInFlight"].toInt(), 1);
        QTest::qWait(200);
        QVERIFY(sim.process().signal(SIGTERM));
        QVERIFY(waitFor([&] { return sim.process().finished(); }, 5000));
        QCOMPARE(sim.process().exitCode(), 0);

        // Every request is the tester's, with its ID, and succeeds; a heartbeat comes at least the 0.45 s
        // threshold (less timer slack) after the last renewal, and the lease is never left unrenewed
        // for long.
        QStringList requests;
        double renewed = -1;
        const auto tester = eventIs(
            "request", {{"client", "API Tester"}, {"clientId", controller.clientID()}, {"status", 200}});
        for (const QJsonObject &e : sim.matching(tester)) {
            const QString path = e["path"].toString();
            requests << e["method"].toString() + u' ' + path;
            const double t = e["t"].toDouble();
            if (path == "/v1/status")
                continue;
            if (path == "/v1/heartbeat")
                QVERIFY2(t - renewed >= 400, qPrintable(QString::number(t - renewed)));
            QVERIFY2(renewed < 0 || t - renewed <= 1100, qPrintable(QString::number(t - renewed)));
            renewed = t;
        }
        QCOMPARE(stats["total"].toInt(), int(requests.size()));
        const QString joined = requests.join(QStringLiteral(", "));
        QVERIFY2(
            QRegularExpression("^GET /v1/status, POST /v1/resonance, (POST /v1/heartbeat, )+"
                               "POST /v1/resonance/update, (POST /v1/heartbeat, )*POST /v1/resonance/pause, "
                               "(POST /v1/heartbeat, )*POST /v1/stop, POST /v1/impulses$")
                .match(joined)
                .hasMatch(),
            qPrintable(joined));
        const auto at = [&](const char *kind, QJsonObject fields = {}) {
            const QList<QJsonObject> found = sim.matching(eventIs(kind, fields));
            return found.isEmpty() ? 0.0 : found.first()["t"].toDouble();
        };
        const double start = at("start", {{"effect", "controlled"}}), update = at("update"),
                     pause = at("pause"), stop = at("end", {{"effect", "controlled"}}),
                     click = at("start", {{"effect", "impulse"}}), exit = at("shutdown");
        const std::vector<float> s = readWav(wav);
        QVERIFY2(!s.empty(), "not a complete 16-bit mono WAV at 48 kHz");
        QVERIFY(std::abs(double(s.size()) - exit * rate) < 0.05 * rate * 1000); // runs to the exit

        // The timeline prints times to the microsecond: a sample either way of the exact one.
        const auto sample = [](double t) { return SoundRenderer::sampleAt(t); };
        const auto near = [&](qint64 found, double t) { return std::abs(found - sample(t)) <= 1; };
        const std::vector<qint64> beats = onsets(s, 0.05f, 0, sample(pause));
        QVERIFY(near(beats.front(), start));
        for (size_t i = 1; i < beats.size(); ++i)
            QVERIFY2(std::abs(double(beats[i] - beats[0]) - double(i) * 1600) <= 1,
                     qPrintable(QString::number(i)));
        QCOMPARE(qint64(beats.size()), qint64(std::ceil((pause - start) / (1000 / 30.0))));
        QCOMPARE(peak(s, sample(start), sample(update)), float(qRound(0.8 * 0.5 * 32767) / 32767.0));
        QCOMPARE(peak(s, sample(update + 45), sample(pause)), float(qRound(0.4 * 0.5 * 32767) / 32767.0));
        QCOMPARE(peak(s, sample(pause) + 1600, sample(click) - 1), 0.0f); // the click may be a sample early
        QVERIFY(stop > pause && stop < click);
        // From the stop on (the last beat before the pause may still ring past the pause's sample).
        const std::vector<qint64> clicks = onsets(s, 0.05f, sample(stop));
        QVERIFY2(clicks.size() == 1 && near(clicks.front(), click),
                 qPrintable(QStringLiteral("%1 onsets, the first at %2, the impulse's sample %3")
                                .arg(clicks.size())
                                .arg(clicks.empty() ? -1 : clicks.front())
                                .arg(sample(click))));
        QCOMPARE(peak(s, sample(click) + sample(5), qint64(s.size())), 0.0f);
    }
};

QTEST_GUILESS_MAIN(SimSoundTest)
#include "test_sim_sound.moc"
