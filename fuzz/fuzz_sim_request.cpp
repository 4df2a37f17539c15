// Whatever bytes a client sends, the simulated service's request parser and command
// handling never crash, and every answer is a JSON object with "ok".
#include "HapticEngine.h"
#include "RequestParser.h"
#include "BodyRules.h"
#include "Timeline.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

namespace {

QCoreApplication &application()
{
    static int argc = 1;
    static char name[] = "fuzz_sim_request";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

vibrelle::sim::ApiResult dispatch(vibrelle::sim::HapticEngine &engine, const vibrelle::sim::HttpRequest &request)
{
    using namespace vibrelle::sim;
    const Client client{QStringLiteral("FUZZ"), QStringLiteral("fuzzer")};
    if (request.path == "/v1/status") {
        return engine.status();
    }
    const bool emptyIsObject = request.path == "/v1/stop" || request.path == "/v1/heartbeat" ||
                               request.path == "/v1/resonance/pause" || request.path == "/v1/resonance/resume";
    QString error;
    const auto body = parseObjectBody(request.body, emptyIsObject, &error);
    if (!body) {
        return ApiResult::failure(400, error);
    }
    if (request.path == "/v1/impulses") {
        return engine.impulse(*body, client);
    }
    if (request.path == "/v1/sequences") {
        return engine.sequence(*body, client);
    }
    if (request.path == "/v1/resonance") {
        return engine.resonance(*body, client);
    }
    if (request.path == "/v1/resonance/update") {
        return engine.update(*body, client);
    }
    if (request.path == "/v1/resonance/pause") {
        return engine.pause(*body, client);
    }
    if (request.path == "/v1/resonance/resume") {
        return engine.resume(*body, client);
    }
    if (request.path == "/v1/heartbeat") {
        return engine.heartbeat(*body, client);
    }
    return engine.stop(*body, client);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    application();
    using namespace vibrelle::sim;
    Timeline timeline(Timeline::Format::Quiet);
    HapticEngine engine(&timeline, 2000);
    RequestParser parser;
    QByteArray buffer;
    // The first byte sets how the input is split into reads, so that every split point is tried.
    const size_t chunk = size > 0 ? 1 + data[0] % 64 : 1;
    for (size_t offset = size > 0 ? 1 : 0; offset < size; offset += chunk) {
        buffer.append(reinterpret_cast<const char *>(data + offset),
                      static_cast<qsizetype>(std::min(chunk, size - offset)));
        for (;;) {
            const RequestParser::Result result = parser.next(buffer);
            if (result.event == RequestParser::Event::Error) {
                if (result.status < 400 || result.status > 599) {
                    std::abort();
                }
                return 0;
            }
            if (result.event == RequestParser::Event::NeedMore) {
                break;
            }
            if (result.event == RequestParser::Event::Complete) {
                const ApiResult answer = dispatch(engine, parser.takeRequest());
                if (!answer.body.value(QStringLiteral("ok")).isBool()) {
                    std::abort();
                }
            }
        }
    }
    return 0;
}
