// The window of `vibrelle-sim --view`, offscreen on a made-up clock: what it says follows the
// timeline, and it repaints only while something plays or still shows.

#include "desktop/SimView.h"
#include "support/NamedWidget.h"

#include <QApplication>
#include <QJsonArray>
#include <QLabel>
#include <QTest>

using namespace vibrelle::sim;
using vibrelle::testing::namedWidget;

class SimViewTest : public QObject {
    Q_OBJECT

    double m_now = 0;
    QJsonArray m_faults;
    PlayTrack m_track{2000};
    std::unique_ptr<SimView> m_view;

    void at(double t, const QString &event, QJsonObject fields = {}) {
        m_now = t;
        fields.insert(QStringLiteral("client"), QStringLiteral("API Tester"));
        m_track.apply(t, event, fields);
        m_view->follow(event, fields);
    }
    QString text(const QString &name) const { return namedWidget<QLabel>(*m_view, name)->text(); }
    QString shown(const QString &name) const {
        const QLabel *label = m_view->findChild<QLabel *>(name);
        return label && label->isVisibleTo(m_view.get()) ? label->text() : QString();
    }

private Q_SLOTS:
    void followsTheTimeline() {
        m_view = std::make_unique<SimView>(
            SimView::Source{&m_track, [this] { return m_now; }, [this] { return m_faults; }, 59723, 0});
        m_view->show();
        QCOMPARE(m_view->windowTitle(), QStringLiteral("Vibrelle · servizio simulato"));
        QCOMPARE(text("sim.effect"), QStringLiteral("Nessun effetto"));
        QVERIFY(!m_view->animating());

        at(1000, "start",
           {{"effect", "controlled"},
            {"params",
             QJsonObject{
                 {"intensity", 0.5}, {"pulseRateHz", 30}, {"sharpness", 0.25}, {"transitionMs", 40}}}});
        QCOMPARE(text("sim.effect"), QStringLiteral("Risonanza controllata"));
        QCOMPARE(text("sim.state"), QStringLiteral("In corso"));
        QCOMPARE(text("sim.client"), QStringLiteral("Client · API Tester"));
        QCOMPARE(shown("sim.param.pulseRateHz"), QStringLiteral("30 imp/s"));
        QCOMPARE(shown("sim.param.sharpness"), QStringLiteral("25%"));
        QCOMPARE(shown("sim.param.transitionMs"), QStringLiteral("40 ms"));
        QVERIFY(m_view->animating());

        at(1500, "update", {{"effect", "controlled"}, {"changed", QJsonObject{{"intensity", 0.75}}}});
        QCOMPARE(shown("sim.param.intensity"), QStringLiteral("75%"));
        at(1500, "lease", {{"effect", "controlled"}}); // the engine's note: the update renewed it
        at(1600, "pause", {{"effect", "controlled"}});
        QCOMPARE(text("sim.state"), QStringLiteral("In pausa"));
        m_now = 2000;
        QCOMPARE(m_view->leaseReading().first, 0.75); // 500 ms of 2000 since the last renewal
        at(2100, "lease", {{"effect", "controlled"}});
        QCOMPARE(m_view->leaseReading().first, 1.0);

        at(4100, "end", {{"effect", "controlled"}, {"reason", "lease expired"}});
        QCOMPARE(text("sim.effect"), QStringLiteral("Nessun effetto"));
        QCOMPARE(m_view->leaseReading(), (std::pair<double, QString>{0.0, QStringLiteral("lease scaduto")}));
        // The strip still scrolls what happened out of sight, then the window rests.
        m_now = 9000;
        m_view->follow({}, {});
        QVERIFY(m_view->animating());
        m_now = 9101;
        m_view->follow({}, {});
        QVERIFY(!m_view->animating());

        at(9500, "start",
           {{"effect", "impulse"}, {"params", QJsonObject{{"intensity", 1}, {"style", "soft"}}}});
        QCOMPARE(text("sim.effect"), QStringLiteral("Impulso"));
        QCOMPARE(shown("sim.param.style"), QStringLiteral("Morbido"));
        QCOMPARE(shown("sim.param.pulseRateHz"), QString()); // rows of the resonance are gone
        QCOMPARE(m_view->leaseReading().second, QStringLiteral("nessun effetto in corso"));

        QCOMPARE(text("sim.faults"), QStringLiteral("Nessuno"));
        m_faults = {QJsonObject{{"path", "/v1/stop"}, {"status", 503}, {"error", "busy"}, {"times", 2}},
                    QJsonObject{{"path", "/v1/heartbeat"}, {"stall", "never"}}};
        at(9600, "faults", {{"faults", m_faults}});
        QCOMPARE(text("sim.faults"),
                 QStringLiteral("/v1/stop · 503 «busy», ancora 2 volte\n/v1/heartbeat · non risponde mai"));
        m_faults.removeFirst(); // used up by a request
        at(9700, "request", {{"path", "/v1/stop"}, {"status", 503}, {"fault", "status"}});
        QCOMPARE(text("sim.faults"), QStringLiteral("/v1/heartbeat · non risponde mai"));
    }
};

QTEST_MAIN(SimViewTest)
#include "test_sim_view.moc"
