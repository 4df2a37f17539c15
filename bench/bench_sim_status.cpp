// bench-sim-status: starts vibrelle-sim on a free port and sends GET /v1/status over one
// keep-alive connection, one request at a time (as the tester does), for a bounded time.
// Prints requests per second and round-trip percentiles; a second, shorter run with the JSON
// timeline switched on also reports the sim's own handling time per request.
//
// Usage: bench-sim-status [--seconds S]   (S from 1 to 60, default 3)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QByteArray statusRequest = "GET /v1/status HTTP/1.1\r\n"
                                 "Host: 127.0.0.1\r\n"
                                 "X-VBL-Client: 0b6c1d2e-3f40-4a5b-8c6d-7e8f9a0b1c2d\r\n"
                                 "X-VBL-Client-Name: API Tester\r\n"
                                 "Accept: application/json\r\n\r\n";

struct RunResult {
    bool ok = false;
    QString error;
    double seconds = 0;
    std::vector<double> roundTripsMs;
    std::vector<double> handlingMs; // from the sim's timeline, when it prints one
};

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = size_t(p * double(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

QString simBinary() {
    const QString dir = qEnvironmentVariable("VIBRELLE_BIN_DIR", QCoreApplication::applicationDirPath());
    return dir + QStringLiteral("/vibrelle-sim");
}

RunResult run(bool withTimeline, int seconds) {
    RunResult result;
    QProcess sim;
    QByteArray output;
    quint16 port = 0;
    QEventLoop loop;

    QObject::connect(&sim, &QProcess::readyReadStandardOutput, [&] {
        output += sim.readAllStandardOutput();
        qsizetype newline;
        while ((newline = output.indexOf('\n')) >= 0) {
            const QByteArray line = output.left(newline);
            output.remove(0, newline + 1);
            if (port == 0 && line.startsWith("listening on http://127.0.0.1:")) {
                port = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
                loop.quit();
                continue;
            }
            const QJsonObject event = QJsonDocument::fromJson(line).object();
            if (event.value(QLatin1String("event")).toString() == QLatin1String("request"))
                result.handlingMs.push_back(event.value(QLatin1String("handlingMs")).toDouble());
        }
    });
    sim.start(simBinary(), {QStringLiteral("--port"), QStringLiteral("0"),
                            withTimeline ? QStringLiteral("--json") : QStringLiteral("--quiet")});
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    if (port == 0) {
        result.error = QStringLiteral("cannot start %1: %2").arg(simBinary(), sim.errorString());
        sim.kill();
        sim.waitForFinished();
        return result;
    }

    QTcpSocket socket;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QByteArray buffer;
    QElapsedTimer total;
    QElapsedTimer roundTrip;
    bool finished = false;

    const auto sendNext = [&] {
        if (total.elapsed() >= qint64(seconds) * 1000) {
            finished = true;
            loop.quit();
            return;
        }
        roundTrip.start();
        socket.write(statusRequest);
    };
    QObject::connect(&socket, &QTcpSocket::connected, [&] {
        total.start();
        sendNext();
    });
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
        buffer += socket.readAll();
        while (true) {
            const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            const qsizetype lengthAt = buffer.indexOf("Content-Length: ");
            if (lengthAt < 0 || lengthAt > headEnd || !buffer.startsWith("HTTP/1.1 200")) {
                result.error =
                    QStringLiteral("unexpected reply: %1").arg(QString::fromUtf8(buffer.left(headEnd)));
                loop.quit();
                return;
            }
            const qsizetype length =
                buffer.mid(lengthAt + 16, buffer.indexOf('\r', lengthAt) - lengthAt - 16).toLongLong();
            if (buffer.size() < headEnd + 4 + length)
                return;
            buffer.remove(0, headEnd + 4 + length);
            result.roundTripsMs.push_back(double(roundTrip.nsecsElapsed()) / 1e6);
            sendNext();
        }
    });
    QObject::connect(&socket, &QTcpSocket::errorOccurred, [&] {
        result.error = socket.errorString();
        loop.quit();
    });
    socket.connectToHost(QHostAddress::LocalHost, port);
    QTimer::singleShot((seconds + 10) * 1000, &loop, &QEventLoop::quit); // safety bound
    loop.exec();
    result.seconds = double(total.nsecsElapsed()) / 1e9;
    socket.abort();

    sim.terminate(); // SIGTERM: the sim prints its last events and exits
    sim.waitForFinished(5000);
    output += sim.readAllStandardOutput();
    result.ok = finished && result.error.isEmpty();
    return result;
}

void report(const char *label, const RunResult &result) {
    if (!result.ok) {
        std::printf("  %-14s failed: %s\n", label, qPrintable(result.error));
        return;
    }
    const auto count = result.roundTripsMs.size();
    std::printf("  %-14s %6.2f s  %8zu requests  %9.0f req/s  round trip p50 %.3f ms  p99 %.3f ms\n", label,
                result.seconds, count, double(count) / result.seconds, percentile(result.roundTripsMs, 0.5),
                percentile(result.roundTripsMs, 0.99));
    if (!result.handlingMs.empty())
        std::printf("  %-14s sim handling p50 %.3f ms  p99 %.3f ms  (%zu requests in the timeline)\n", "",
                    percentile(result.handlingMs, 0.5), percentile(result.handlingMs, 0.99),
                    result.handlingMs.size());
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    int seconds = 3;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() == 2 && arguments.first() == QLatin1String("--seconds")) {
        bool ok = false;
        seconds = arguments.at(1).toInt(&ok);
        if (!ok || seconds < 1 || seconds > 60) {
            std::fprintf(stderr, "bench-sim-status: --seconds takes a whole number from 1 to 60\n");
            return 2;
        }
    } else if (!arguments.isEmpty()) {
        std::fprintf(stderr, "usage: bench-sim-status [--seconds S]\n");
        return 2;
    }

    std::printf("GET /v1/status over one keep-alive connection, one request at a time\n");
    const RunResult quiet = run(false, seconds);
    report("--quiet sim", quiet);
    const RunResult timeline = run(true, std::max(1, seconds / 3));
    report("--json sim", timeline);
    return quiet.ok && timeline.ok ? 0 : 1;
}
