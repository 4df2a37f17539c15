// bench-exchange: the tester's own controller and HTTP transport against vibrelle-sim.
//
//   bench-exchange stream   [--seconds S] [--latency-ms L]
//       A controlled resonance whose intensity changes once per millisecond for S seconds
//       (default 5): updates per second, the smallest spacing between two sends, and the
//       delay from a change to the first update that carries it (p50, p99).
//   bench-exchange heartbeat [--seconds S]
//       A controlled resonance left alone for S seconds (default 10): the intervals between
//       heartbeats as the sim's timeline stamps their arrival (smallest, p50, p99), and the CPU
//       time of this process (no window) per heartbeat.
//   bench-exchange memory   [--seconds S]
//       The same stream for S seconds (default 60): resident memory after start-up, and
//       every 10 s of the stream.
//   bench-exchange overhead [--count N]
//       N status exchanges (default 400): the tester's measured response time minus the
//       sim's own handling time (p50, p99), and the same for curl over one keep-alive
//       connection.
//
// Every figure is printed as one line "name | value | unit | notes".

#include "api/NetworkTransport.h"
#include "core/TesterController.h"

#include "Measures.h"
#include "Rig.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace vibrelle;

namespace {

using rig::waitFor;

double nowMs() {
    return rig::monotonicMs();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

void row(const QString &name, double value, const QString &unit, const QString &notes = {}) {
    std::printf("%s | %.3f | %s | %s\n", qPrintable(name), value, qPrintable(unit), qPrintable(notes));
    std::fflush(stdout);
}

// Records when each request left and when its outcome came back.
class RecordingTransport final : public HttpTransport {
public:
    struct Exchange {
        QString path;
        QByteArray body;
        double sentMs = 0;
        double doneMs = -1;
    };

    RecordingTransport()
        : m_inner(std::make_unique<NetworkTransport>()) {}

    void send(const HttpRequest &request, Completion done) override {
        const auto index = m_exchanges.size();
        m_exchanges.push_back({request.url.path(), request.body.value_or(QByteArray()), nowMs(), -1});
        m_inner->send(request, [this, index, done = std::move(done)](const HttpOutcome &outcome) {
            m_exchanges[index].doneMs = nowMs();
            done(outcome);
        });
    }

    const std::vector<Exchange> &exchanges() const { return m_exchanges; }

private:
    std::unique_ptr<NetworkTransport> m_inner;
    std::vector<Exchange> m_exchanges;
};

// A vibrelle-sim on a free port, or the end of the benchmark.
std::unique_ptr<rig::SimProcess> startSim(const QStringList &arguments,
                                          rig::SimProcess::Keep keep = rig::SimProcess::Keep::events) {
    auto sim = std::make_unique<rig::SimProcess>(arguments, 0, keep);
    if (sim->port() == 0) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(rig::builtProgram(QStringLiteral("vibrelle-sim"))));
        std::exit(1);
    }
    return sim;
}

void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Stream {
    std::vector<double> changeMs;
    std::vector<double> rssKiB;
    double fromMs = 0, toMs = 0; // while the changes ran
};

// Runs a controlled resonance while intensity changes every millisecond. When sampling memory
// nothing is recorded per change, so that only the tester's own memory can grow.
Stream runStream(TesterController &controller, int seconds, bool sampleMemory) {
    Stream stream;
    controller.controlledResonance();
    if (!waitFor([&] { return controller.effectRunning(); }, 3000)) {
        std::fprintf(stderr, "the controlled resonance did not start: %s\n", qPrintable(controller.status()));
        std::exit(1);
    }
    QTimer changer;
    changer.setTimerType(Qt::PreciseTimer);
    int step = 0;
    QObject::connect(&changer, &QTimer::timeout, [&] {
        ++step;
        controller.setIntensity(0.1 + 0.8 * ((step % 1000) / 1000.0));
        if (!sampleMemory) {
            stream.changeMs.push_back(nowMs());
        }
    });
    stream.fromMs = nowMs();
    changer.start(1);
    if (sampleMemory) {
        stream.rssKiB.push_back(static_cast<double>(residentKiB()));
        for (int s = 10; s <= seconds; s += 10) {
            spin(10000);
            stream.rssKiB.push_back(static_cast<double>(residentKiB()));
        }
    } else {
        spin(seconds * 1000);
    }
    changer.stop();
    stream.toMs = nowMs();
    controller.stop();
    waitFor([&] { return !controller.busy() && !controller.effectRunning(); }, 3000);
    return stream;
}

int streamMode(int seconds, int latencyMs) {
    const auto sim = startSim(latencyMs > 0 ? QStringList{QStringLiteral("--latency-ms"), QString::number(latencyMs)}
                                            : QStringList{});
    auto transport = std::make_unique<RecordingTransport>();
    RecordingTransport *recorder = transport.get();
    TesterController controller(sim->address(), std::move(transport), std::make_shared<SystemTimeSource>());
    waitFor([&] { return !controller.busy(); }, 3000);

    const Stream stream = runStream(controller, seconds, false);
    std::vector<double> updates;
    std::vector<double> sends;
    for (const auto &exchange : recorder->exchanges()) {
        // The throttle spaces the start and every live update; the status request before
        // and the stop after the stream are not part of it.
        if (exchange.path == QLatin1String("/v1/resonance")) {
            sends.push_back(exchange.sentMs);
        }
        if (exchange.path == QLatin1String("/v1/resonance/update")) {
            sends.push_back(exchange.sentMs);
            updates.push_back(exchange.sentMs);
        }
    }
    double smallest = 1e9;
    for (size_t i = 1; i < sends.size(); ++i) {
        smallest = std::min(smallest, sends[i] - sends[i - 1]);
        if (sends[i] - sends[i - 1] < 50) {
            std::fprintf(stderr, "note: sends %zu and %zu only %.3f ms apart\n", i - 1, i, sends[i] - sends[i - 1]);
        }
    }
    // Each update carries the latest value, so a change reaches the service with the
    // first update that leaves after it.
    std::vector<double> delays;
    size_t next = 0;
    for (double change : stream.changeMs) {
        while (next < updates.size() && updates[next] < change) {
            ++next;
        }
        if (next < updates.size()) {
            delays.push_back(updates[next] - change);
        }
    }
    const QString tag = latencyMs > 0 ? QStringLiteral(" (sim +%1 ms)").arg(latencyMs) : QString();
    // Over the time the changes really ran (the wait for it may overrun a little).
    const auto during = std::count_if(updates.begin(), updates.end(),
                                      [&](double at) { return at >= stream.fromMs && at <= stream.toMs; });
    const double ranSeconds = (stream.toMs - stream.fromMs) / 1000.0;
    row(QStringLiteral("stream updates/s") + tag, static_cast<double>(during) / ranSeconds, QStringLiteral("1/s"),
        QStringLiteral("%1 updates for %2 changes in %3 s").arg(during).arg(stream.changeMs.size()).arg(ranSeconds, 0, 'f', 3));
    std::vector<double> spacing;
    for (size_t i = 1; i < sends.size(); ++i) {
        spacing.push_back(sends[i] - sends[i - 1]);
    }
    row(QStringLiteral("stream smallest spacing") + tag, smallest, QStringLiteral("ms"),
        QStringLiteral("start and updates"));
    row(QStringLiteral("stream spacing p50") + tag, percentile(spacing, 0.5), QStringLiteral("ms"),
        QStringLiteral("p99 %1 ms").arg(percentile(spacing, 0.99), 0, 'f', 3));
    row(QStringLiteral("stream change→update p50") + tag, percentile(delays, 0.5), QStringLiteral("ms"));
    row(QStringLiteral("stream change→update p99") + tag, percentile(delays, 0.99), QStringLiteral("ms"));
    return 0;
}

// A controlled resonance left alone for S seconds: the heartbeats keep its lease, and the sim
// stamps each on arrival.
int heartbeatMode(int seconds) {
    const auto sim = startSim({});
    auto transport = std::make_unique<RecordingTransport>();
    RecordingTransport *recorder = transport.get();
    TesterController controller(sim->address(), std::move(transport), std::make_shared<SystemTimeSource>());
    waitFor([&] { return !controller.busy(); }, 3000);
    controller.controlledResonance();
    waitFor([&] { return controller.effectRunning(); }, 3000);
    const qsizetype mark = sim->events().size();
    const double cpuBefore = bench::schedstatMs(::getpid());
    spin(seconds * 1000);
    const double cpu = bench::schedstatMs(::getpid()) - cpuBefore;
    const auto beats = sim->matching(rig::eventIs(QStringLiteral("request"), {{"path", "/v1/heartbeat"}}), mark).size();
    controller.stop();
    waitFor([&] { return !controller.busy() && !controller.effectRunning(); }, 3000);
    // Stamped by the sim on arrival, and by the tester as they leave.
    std::vector<double> arrived, left;
    for (const QJsonObject &event : sim->events()) {
        if (event.value(QLatin1String("event")).toString() == QLatin1String("request") &&
            event.value(QLatin1String("path")).toString() == QLatin1String("/v1/heartbeat")) {
            arrived.push_back(event.value(QLatin1String("t")).toDouble());
        }
    }
    for (const auto &exchange : recorder->exchanges()) {
        if (exchange.path == QLatin1String("/v1/heartbeat")) {
            left.push_back(exchange.sentMs);
        }
    }
    const auto intervals = [](const std::vector<double> &times) {
        std::vector<double> result;
        for (size_t i = 1; i < times.size(); ++i) {
            result.push_back(times[i] - times[i - 1]);
        }
        return result;
    };
    const std::vector<double> seen = intervals(arrived), sent = intervals(left);
    row(QStringLiteral("heartbeat interval smallest"), percentile(seen, 0), QStringLiteral("ms"),
        QStringLiteral("%1 heartbeats in %2 s of controlled resonance, as the sim saw them arrive; as they left "
                       "the tester: smallest %3 ms")
            .arg(arrived.size())
            .arg(seconds)
            .arg(percentile(sent, 0), 0, 'f', 3));
    row(QStringLiteral("heartbeat interval p99"), percentile(seen, 0.99), QStringLiteral("ms"),
        QStringLiteral("p50 %1 ms, largest %2 ms; as they left the tester: p99 %3 ms")
            .arg(percentile(seen, 0.5), 0, 'f', 3)
            .arg(percentile(seen, 1), 0, 'f', 3)
            .arg(percentile(sent, 0.99), 0, 'f', 3));
    row(QStringLiteral("CPU per heartbeat, controller and transport alone"), beats ? cpu / double(beats) : 0,
        QStringLiteral("ms"),
        QStringLiteral("%1 ms over %2 heartbeats, all threads of a process with no window (schedstat); what an "
                       "exchange costs before any widget")
            .arg(cpu, 0, 'f', 1)
            .arg(beats));
    return 0;
}

int memoryMode(int seconds) {
    const auto sim = startSim({}, rig::SimProcess::Keep::nothing);
    TesterController controller(sim->address(), std::make_unique<NetworkTransport>(),
                                std::make_shared<SystemTimeSource>());
    waitFor([&] { return !controller.busy(); }, 3000);
    const double startup = static_cast<double>(residentKiB());
    const Stream stream = runStream(controller, seconds, true);
    row(QStringLiteral("RSS after start-up"), startup / 1024.0, QStringLiteral("MiB"),
        QStringLiteral("controller + transport, no window"));
    for (size_t i = 1; i < stream.rssKiB.size(); ++i) {
        row(QStringLiteral("RSS after %1 s of stream").arg(i * 10), stream.rssKiB[i] / 1024.0,
            QStringLiteral("MiB"));
    }
    if (stream.rssKiB.size() >= 3) {
        row(QStringLiteral("RSS growth 10 s → %1 s").arg((stream.rssKiB.size() - 1) * 10),
            (stream.rssKiB.back() - stream.rssKiB[1]) / 1024.0, QStringLiteral("MiB"));
    }
    return 0;
}

int overheadMode(int count) {
    const auto sim = startSim({});
    auto transport = std::make_unique<RecordingTransport>();
    RecordingTransport *recorder = transport.get();
    TesterController controller(sim->address(), std::move(transport), std::make_shared<SystemTimeSource>());
    for (int i = 0; i < count; ++i) {
        waitFor([&] { return !controller.busy(); }, 3000);
        controller.verifyConnection();
    }
    waitFor([&] { return !controller.busy(); }, 3000);
    spin(200);

    std::vector<double> handling;
    for (const auto &event : sim->events()) {
        if (event.value(QLatin1String("event")).toString() == QLatin1String("request")) {
            handling.push_back(event.value(QLatin1String("handlingMs")).toDouble());
        }
    }
    std::vector<double> overhead;
    const auto &exchanges = recorder->exchanges();
    for (size_t i = 1; i < exchanges.size() && i < handling.size(); ++i) { // the first opens the connection
        overhead.push_back(exchanges[i].doneMs - exchanges[i].sentMs - handling[i]);
    }
    row(QStringLiteral("tester exchange overhead p50"), percentile(overhead, 0.5), QStringLiteral("ms"),
        QStringLiteral("%1 status requests").arg(overhead.size()));
    row(QStringLiteral("tester exchange overhead p99"), percentile(overhead, 0.99), QStringLiteral("ms"));

    // curl over one keep-alive connection: all URLs in one invocation.
    const size_t before = handling.size();
    QStringList arguments{QStringLiteral("-s"),
                          QStringLiteral("-H"),
                          QStringLiteral("X-VBL-Client: BENCH"),
                          QStringLiteral("-H"),
                          QStringLiteral("X-VBL-Client-Name: curl"),
                          QStringLiteral("-w"),
                          QStringLiteral("%{time_total}\\n")};
    for (int i = 0; i < count; ++i) {
        arguments << QStringLiteral("-o") << QStringLiteral("/dev/null")
                  << sim->address() + QStringLiteral("/v1/status");
    }
    QProcess curl;
    curl.start(QStringLiteral("curl"), arguments);
    if (!curl.waitForStarted(5000)) {
        row(QStringLiteral("curl exchange overhead p50"), 0, QStringLiteral("ms"),
            QStringLiteral("curl not found"));
        return 0;
    }
    waitFor([&] { return curl.state() == QProcess::NotRunning; }, 60000);
    spin(200);
    const QList<QByteArray> totals = curl.readAllStandardOutput().split('\n');
    std::vector<double> curlHandling;
    for (qsizetype i = 0; i < sim->events().size(); ++i) {
        const QJsonObject &event = sim->events()[i];
        if (event.value(QLatin1String("event")).toString() == QLatin1String("request") &&
            event.value(QLatin1String("client")).toString() == QLatin1String("curl")) {
            curlHandling.push_back(event.value(QLatin1String("handlingMs")).toDouble());
        }
    }
    Q_UNUSED(before);
    std::vector<double> curlOverhead;
    for (qsizetype i = 1; i < totals.size() && static_cast<size_t>(i) < curlHandling.size(); ++i) {
        if (!totals[i].isEmpty()) {
            curlOverhead.push_back(totals[i].toDouble() * 1000.0 - curlHandling[static_cast<size_t>(i)]);
        }
    }
    row(QStringLiteral("curl exchange overhead p50"), percentile(curlOverhead, 0.5), QStringLiteral("ms"),
        QStringLiteral("one keep-alive connection, %1 requests").arg(curlOverhead.size()));
    row(QStringLiteral("curl exchange overhead p99"), percentile(curlOverhead, 0.99), QStringLiteral("ms"));
    return 0;
}

int option(const QStringList &arguments, const QString &name, int fallback) {
    const qsizetype index = arguments.indexOf(name);
    return index >= 0 && index + 1 < arguments.size() ? arguments[index + 1].toInt() : fallback;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const QString mode = arguments.value(1);
    if (mode == QLatin1String("stream")) {
        return streamMode(std::clamp(option(arguments, QStringLiteral("--seconds"), 5), 1, 600),
                          std::clamp(option(arguments, QStringLiteral("--latency-ms"), 0), 0, 1000));
    }
    if (mode == QLatin1String("heartbeat")) {
        return heartbeatMode(std::clamp(option(arguments, QStringLiteral("--seconds"), 10), 2, 600));
    }
    if (mode == QLatin1String("memory")) {
        return memoryMode(std::clamp(option(arguments, QStringLiteral("--seconds"), 60), 20, 3600));
    }
    if (mode == QLatin1String("overhead")) {
        return overheadMode(std::clamp(option(arguments, QStringLiteral("--count"), 400), 10, 10000));
    }
    std::fprintf(stderr,
                 "usage: bench-exchange stream [--seconds S] [--latency-ms L] | heartbeat [--seconds S] | "
                 "memory [--seconds S] | overhead [--count N]\n");
    return 2;
}
