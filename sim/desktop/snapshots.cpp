// sim-view-snapshots OUTDIR: renders the window of `vibrelle-sim --view` offscreen in named
// states, from timeline events on a made-up clock, and writes one PNG per state.

#include "desktop/SimView.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QTextStream>

#include <functional>

using namespace vibrelle::sim;

namespace {

struct Scene {
    double now = 0;
    PlayTrack track{2000};
    QJsonArray faults;
    SimView view{SimView::Source{&track, [this] { return now; }, [this] { return faults; }, 59723, 0}};

    void at(double t, const QString &event, QJsonObject fields = {}) {
        now = t;
        fields.insert(QStringLiteral("client"), QStringLiteral("API Tester"));
        track.apply(t, event, fields);
        view.follow(event, fields);
    }
    void request(double t, const QString &path, int status = 200) {
        at(t, QStringLiteral("request"), {{"method", "POST"}, {"path", path}, {"status", status}});
    }
    void controlled(double t, double intensity, double rate, double sharpness) {
        at(t, QStringLiteral("start"),
           {{"effect", "controlled"},
            {"params", QJsonObject{{"intensity", intensity},
                                   {"pulseRateHz", rate},
                                   {"sharpness", sharpness},
                                   {"transitionMs", 400}}}});
        request(t, QStringLiteral("/v1/resonance"));
    }
    void heartbeats(double from, double to) {
        for (double t = from; t < to; t += 500) {
            at(t, QStringLiteral("lease"), {{"effect", "controlled"}});
            request(t, QStringLiteral("/v1/heartbeat"));
        }
    }
    void impulse(double t, const char *style, double intensity) {
        at(t, QStringLiteral("start"),
           {{"effect", "impulse"}, {"params", QJsonObject{{"intensity", intensity}, {"style", style}}}});
        request(t, QStringLiteral("/v1/impulses"));
    }
};

const QList<std::pair<QString, std::function<void(Scene &)>>> states = {
    {QStringLiteral("idle"), [](Scene &) {}},
    {QStringLiteral("controlled"),
     [](Scene &s) {
         s.controlled(1000, 0.4, 30, 0.8);
         s.heartbeats(1500, 2200);
         s.at(2200, QStringLiteral("update"),
              {{"effect", "controlled"}, {"changed", QJsonObject{{"intensity", 0.9}, {"pulseRateHz", 18}}}});
         s.request(2200, QStringLiteral("/v1/resonance/update"));
         s.at(3300, QStringLiteral("pause"), {{"effect", "controlled"}});
         s.request(3300, QStringLiteral("/v1/resonance/pause"));
         s.heartbeats(3800, 4000);
         s.at(4000, QStringLiteral("resume"), {{"effect", "controlled"}});
         s.request(4000, QStringLiteral("/v1/resonance/resume"));
         s.at(4000, QStringLiteral("update"),
              {{"effect", "controlled"}, {"changed", QJsonObject{{"sharpness", 0.1}}}});
         s.heartbeats(4500, 5600);
         s.now = 5650;
         s.view.follow({}, {});
     }},
    {QStringLiteral("lease-running-out"),
     [](Scene &s) {
         s.controlled(1000, 0.6, 24, 0.5);
         s.heartbeats(1500, 3000);
         s.faults =
             QJsonArray{QJsonObject{{"path", "/v1/heartbeat"}, {"stall", "never"}},
                        QJsonObject{{"path", "/v1/stop"}, {"status", 503}, {"error", "busy"}, {"times", 1}}};
         s.at(3000, QStringLiteral("faults"), {{"faults", s.faults}});
         s.request(3000, QStringLiteral("/v1/heartbeat"), 0);
         s.now = 4100;
         s.view.follow({}, {});
     }},
    {QStringLiteral("lease-expired"),
     [](Scene &s) {
         s.controlled(500, 0.6, 24, 0.5);
         s.heartbeats(1000, 2000);
         s.request(2000, QStringLiteral("/v1/heartbeat"), 0);
         s.at(3500, QStringLiteral("end"), {{"effect", "controlled"}, {"reason", "lease expired"}});
         s.now = 4200;
         s.view.follow({}, {});
     }},
    {QStringLiteral("impulses"),
     [](Scene &s) {
         s.impulse(1200, "crisp", 1.0);
         s.impulse(1900, "natural", 1.0);
         s.impulse(2600, "soft", 1.0);
         s.impulse(3300, "crisp", 0.5);
         s.at(4000, QStringLiteral("start"),
              {{"effect", "sequence"}, {"params", QJsonObject{{"steps", 2}, {"durationMs", 180}}}});
         s.at(4000, QStringLiteral("sequence"),
              {{"steps", QJsonArray{QJsonObject{{"delayMs", 0}, {"intensity", 0.8}, {"style", "crisp"}},
                                    QJsonObject{{"delayMs", 180}, {"intensity", 0.8}, {"style", "soft"}}}}});
         s.request(4000, QStringLiteral("/v1/sequences"));
         s.now = 4300;
         s.view.follow({}, {});
     }},
};

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: sim-view-snapshots OUTDIR\n";
        return 2;
    }
    QDir().mkpath(args.at(1));
    for (const auto &[name, build] : states) {
        Scene scene;
        scene.view.show();
        build(scene);
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        const QString file = QDir(args.at(1)).filePath(QStringLiteral("sim-%1.png").arg(name));
        if (!scene.view.grab().save(file)) {
            QTextStream(stderr) << "cannot write " << file << "\n";
            return 1;
        }
        QTextStream(stdout) << file << "\n";
    }
    return 0;
}
