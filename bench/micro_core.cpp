// Micro-benchmarks of the hot pure functions: curve sampling (every drag report),
// reply decoding and body encoding (every exchange).
#include "api/ServiceReply.h"
#include "api/WireFormat.h"
#include "core/TensionCurve.h"

#include <benchmark/benchmark.h>

namespace {

void tensionCurveSample(benchmark::State &state) {
    const vibrelle::TensionCurve curve;
    double charge = 0;
    for (auto _ : state) {
        charge += 0.0001;
        if (charge > 1) {
            charge = 0;
        }
        benchmark::DoNotOptimize(curve.sample(charge));
    }
}
BENCHMARK(tensionCurveSample);

void decodeImpulseReply(benchmark::State &state) {
    const QByteArray body = R"({"activeEffect":"none","emitted":true,"ok":true})";
    for (auto _ : state) {
        benchmark::DoNotOptimize(vibrelle::decodeReply(200, body));
    }
}
BENCHMARK(decodeImpulseReply);

void decodeStatusReplyWithSummary(benchmark::State &state) {
    const QByteArray body = R"({"authentication":"none","available":true,"gestureAvailable":true,)"
                            R"("hapticAvailable":true,"hapticEnabled":true,"materialAudioEnabled":false,)"
                            R"("mode":"local","ok":true,"outputAvailable":true,"state":"idle"})";
    for (auto _ : state) {
        const vibrelle::ServiceReply reply = vibrelle::decodeReply(200, body);
        benchmark::DoNotOptimize(vibrelle::statusSummary(*reply.object));
    }
}
BENCHMARK(decodeStatusReplyWithSummary);

void encodeControlledBody(benchmark::State &state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(vibrelle::encodeBody(vibrelle::controlledBody(0.3016, 22.466, 0.3462, 40)));
    }
}
BENCHMARK(encodeControlledBody);

void encodeUpdateBody(benchmark::State &state) {
    const QMap<QString, double> changes{{QStringLiteral("intensity"), 0.42},
                                        {QStringLiteral("sharpness"), 0.7}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(vibrelle::encodeBody(vibrelle::updateBody(changes)));
    }
}
BENCHMARK(encodeUpdateBody);

} // namespace

BENCHMARK_MAIN();
