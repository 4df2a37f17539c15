#include "SimOptions.h"

#include "BodyRules.h"

namespace vibrelle::sim {

namespace {

std::optional<int> parseNumber(const QString &option, const QString &text, int min, int max, QString *error) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < min || value > max) {
        *error = QStringLiteral("%1: expected a whole number from %2 to %3, got \"%4\"")
                     .arg(option)
                     .arg(min)
                     .arg(max)
                     .arg(text);
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<SimOptions> parseOptions(const QStringList &arguments, QString *error) {
    SimOptions options;
    bool quiet = false;
    bool json = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments.at(i);
        std::optional<QString> inlineValue;
        if (name.startsWith(QLatin1String("--")) && name.contains(u'=')) {
            inlineValue = name.mid(name.indexOf(u'=') + 1);
            name = name.left(name.indexOf(u'='));
        }
        const auto value = [&]() -> std::optional<QString> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 >= arguments.size()) {
                *error = name + QStringLiteral(": missing value");
                return std::nullopt;
            }
            return arguments.at(++i);
        };
        const auto flag = [&]() {
            if (inlineValue) {
                *error = name + QStringLiteral(": takes no value");
                return false;
            }
            return true;
        };

        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            if (!flag())
                return std::nullopt;
            options.help = true;
        } else if (name == QLatin1String("--version")) {
            if (!flag())
                return std::nullopt;
            options.version = true;
        } else if (name == QLatin1String("--quiet")) {
            if (!flag())
                return std::nullopt;
            quiet = true;
        } else if (name == QLatin1String("--json")) {
            if (!flag())
                return std::nullopt;
            json = true;
        } else if (name == QLatin1String("--view") || name == QLatin1String("--audio")) {
            if (!flag())
                return std::nullopt;
            (name == QLatin1String("--view") ? options.view : options.audio) = true;
        } else if (name == QLatin1String("--audio-file")) {
            const auto file = value();
            if (!file)
                return std::nullopt;
            if (file->isEmpty()) {
                *error = name + QStringLiteral(": missing file name");
                return std::nullopt;
            }
            options.audioFile = *file;
        } else if (name == QLatin1String("--port") || name == QLatin1String("--lease-ms") ||
                   name == QLatin1String("--latency-ms")) {
            const auto text = value();
            if (!text)
                return std::nullopt;
            std::optional<int> number;
            if (name == QLatin1String("--port")) {
                number = parseNumber(name, *text, 0, 65535, error);
                if (number)
                    options.config.port = quint16(*number);
            } else if (name == QLatin1String("--lease-ms")) {
                number = parseNumber(name, *text, 1, 600000, error);
                if (number)
                    options.config.leaseMs = *number;
            } else {
                number = parseNumber(name, *text, 0, 60000, error);
                if (number)
                    options.config.latencyMs = *number;
            }
            if (!number)
                return std::nullopt;
        } else {
            *error = QStringLiteral("unknown argument \"%1\"").arg(arguments.at(i));
            return std::nullopt;
        }
    }
    if (quiet && json) {
        *error = QStringLiteral("--quiet and --json exclude each other");
        return std::nullopt;
    }
    options.format = quiet ? Timeline::Format::Quiet : json ? Timeline::Format::Json : Timeline::Format::Text;
    return options;
}

QString helpText() {
    static const char text[] =
        R"HELP(Usage: vibrelle-sim [--port N] [--lease-ms N] [--latency-ms N] [--quiet | --json]
                    [--view] [--audio] [--audio-file FILE.wav]

A simulated local haptic-feedback service for the Vibrelle API Tester. It answers the
service's HTTP API on 127.0.0.1 (and only there), keeps the state of a simulated
trackpad, prints a timeline of every request and effect, and lets tests inject faults
at run time. Nothing is played on real hardware.

Options:
  --port N        TCP port on 127.0.0.1 (default 59723; 0 picks a free port).
  --lease-ms N    Lease of a gesture or controlled resonance in ms, 1..600000
                  (default 2000): an effect not renewed within it ends by itself.
  --latency-ms N  Delay every /v1 reply by N ms, 0..60000 (default 0).
  --quiet         Print only the first line.
  --json          Print the timeline as one JSON object per line.
  --view          Show the simulated trackpad in a window: the last 5 s of pulses,
                  what plays, the lease and the faults in force. Needs a display.
  --audio         Play the pulses through the desktop's sound output as clicks.
                  Without a sound device it says so and goes on serving.
  --audio-file F  Render the same sound into F, a 16-bit PCM mono WAV at 48 kHz,
                  from the sim's start until it exits (sample 0 is time 0 of the
                  timeline). Extended as the sim runs; valid at any moment.
  --version       Print the version and exit.
  -h, --help      Print this text and exit.

Sound and window: each impulse is a click whose pitch and length follow its style
(crisp: short and bright; natural; soft: long and dull); a resonance is one click
per beat at its cadence (controlled: pulseRateHz; timed and gesture: 50 per second),
as loud as its intensity, brighter and shorter the higher its sharpness (controlled)
or fineness (timed, gesture). Changes of a controlled resonance ramp over its
transitionMs; a pause and a stop are silence. Both follow the timeline and never
change what the service does.

The first line on standard output is always
  listening on http://127.0.0.1:PORT
and is written as soon as the port is open. SIGINT and SIGTERM end any running effect,
close the port and exit with status 0. If the port cannot be opened the sim prints
the reason on standard error and exits with status 1; bad arguments, --view without
a display and an --audio-file that cannot be written exit with 2. Closing the window
ends the sim like SIGTERM.

API (every reply is a JSON object with "ok"; POST bodies are JSON objects):
  Every /v1 request must carry the header X-VBL-Client (the client's identifier);
  X-VBL-Client-Name names the client in the timeline. A POST body, if it has a
  Content-Type, must be application/json.

  GET  /v1/status
       -> "mode", "authentication", "state", "available", "outputAvailable",
          "gestureAvailable", "hapticEnabled", "hapticAvailable",
          "materialAudioEnabled", plus "activeEffect" and, while a resonance runs,
          its "parameters". "state" is one of idle, impulse, sequence, timed,
          gesture, controlled, paused.
  POST /v1/impulses    {"intensity": 0..1, "style": "crisp"|"natural"|"soft"}
       -> "emitted": true. An impulse plays for 30 ms, on top of any resonance.
  POST /v1/sequences   {"steps": [{"delayMs": D, "intensity": I, "style": S}, ...]}
       1 to 16 steps; delayMs is a whole number 0..10000, the wait before the step
       counted from the previous step. -> "emitted": true.
  POST /v1/resonance   starts a resonance, replacing whatever resonance runs:
       {"mode": "timed", "durationMs": 1..60000 (whole), "fineness", "intensity"}
       {"mode": "gesture", "fineness", "intensity", "reactivity"}
       {"mode": "controlled", "intensity", "pulseRateHz": 1..60, "sharpness",
        "transitionMs": 0..60000}
       intensity, fineness, reactivity and sharpness are numbers 0..1.
       -> "activeEffect": the mode; timed: "remainingDurationMs";
          controlled: "paused": false; gesture and controlled: "leaseMs".
  POST /v1/resonance/update   only the keys the running mode accepts:
       timed: intensity, fineness, durationMs (the new duration counts from the
       start of the effect; one already elapsed ends the effect at once)
       gesture: intensity, fineness, reactivity
       controlled: intensity, pulseRateHz, sharpness, transitionMs
       -> "activeEffect" ("none" if the effect has ended by itself meanwhile);
          timed: "remainingDurationMs"; controlled: "paused".
  POST /v1/resonance/pause, /v1/resonance/resume   {} (controlled only)
       -> "activeEffect", "paused". Pausing a paused effect changes nothing.
  POST /v1/heartbeat   {}  renews the lease of a gesture or controlled resonance.
  POST /v1/stop        {}  ends whatever plays (also when nothing does)
       -> "activeEffect": "none", "stopped": [what was ended].
  Empty bodies count as {} for pause, resume, heartbeat and stop.

  Leases: a gesture or controlled resonance ends by itself when no start, update,
  pause, resume or heartbeat renewed it within --lease-ms. A timed resonance ends at
  its deadline. There is one simulated trackpad, shared by all clients.

Errors ({"ok": false, "error": "<field>: <what is wrong>"}; nothing changes):
  400  invalid JSON, a body that is not an object, wrong types, values out of
       range, missing or unknown members, missing X-VBL-Client, bad request syntax
  404  unknown path            405  wrong method (with an Allow header)
  409  pause, resume, update or heartbeat with nothing running (or pause/resume
       of a resonance that is not controlled)
  411  chunked request bodies (send Content-Length)
  413  bodies over 64 KiB       415  a Content-Type other than application/json
  431  request heads over 16 KiB      505  HTTP versions other than 1.0 and 1.1
  Requests are handled one after the other on each connection (keep-alive and
  pipelining work); requests on different connections run concurrently. A
  connection idle for 30 s is closed; at most 256 are open at once (more get 503).

Timeline (standard output, one line per event, time in ms on a monotonic clock
since start):
  text:    "   1234.567 ms  API Tester       POST /v1/stop -> 200 (0.041 ms)"
           "   1234.560 ms  API Tester       end controlled (stop)"
  --json:  {"t":1234.567,"event":"request","client":"API Tester","clientId":"…",
            "handlingMs":0.041,"method":"POST","path":"/v1/stop","status":200}
  Events: request (method, path, client, clientId, status (0: no reply),
  handlingMs = the sim's own time from handling the complete request to writing
  the reply, delayMs = injected latency, fault, error), start (effect, params,
  replaced), update (effect, changed), pause, resume, end (effect, reason: stop,
  replaced, lease expired, duration elapsed, finished, shutdown; ranMs), faults
  (faults), shutdown (reason, requests, maxInFlight).

Control endpoints (no X-VBL-Client needed; not counted in the statistics):
  GET    /_sim/stats    {"ok":true,"total":N,"inFlight":N,"maxInFlight":N,
                         "paths":{"/v1/status":N,...,"other":N},
                         "statuses":{"200":N,...},"rejected":N,"clients":N,
                         "connections":{"open":N,"total":N},"state":"idle"}
         maxInFlight is the largest number of /v1 requests that were ever in
         progress at the same time, over all connections: from the arrival of a
         request's head until its reply is written (injected latency and stalls
         included). rejected counts requests that could not be parsed.
  DELETE /_sim/stats    resets the counters (maxInFlight to the current inFlight).
  GET    /_sim/state    {"ok":true,"playing":[{"effect":"controlled","state":"paused"}],
                         "lease":{"alive":true,"msLeft":N}}
         what plays now ("running" or "paused"; a resonance, and an impulse or
         sequence on top of it) and the lease of a gesture or controlled
         resonance: alive, and the milliseconds left before it runs out.
  GET    /_sim/faults   lists the faults in force.
  POST   /_sim/faults   adds faults: one object or an array of objects.
  DELETE /_sim/faults   clears all faults (--latency-ms stays).

Fault injection (POST /_sim/faults; one fault per path, a new one replaces the old;
faults apply to requests on every path except /_sim/*):
  {"latencyMs": 30}                                  extra latency on every path
  {"path": "/v1/status", "latencyMs": 500}           extra latency on one path
  {"path": "/v1/stop", "status": 503, "error": "busy"}
                                  answer with that status (200..599) and
                                  {"ok": false, "error": ...}; the command is not run
  {"path": "/v1/status", "status": 200, "body": ""}  answer with this raw body
  {"path": "/v1/status", "stall": "never"}           never answer
  {"path": "/v1/status", "stall": "headers"}         send the headers (optional
                                  "status"), then never the body
  {"path": "/v1/stop", "redirect": "http://example.invalid/"}
                                  answer 302 (or "status" 301/303/307/308) with
                                  that Location and a JSON error body
  {"path": "/v1/heartbeat", "close": true}           close the connection
                                  without a reply
  Any path fault may add "times": N (it then applies to the next N requests only)
  and "latencyMs" (waited before the fault acts). Latencies add up: --latency-ms,
  the global one and the path's own.

Examples:
  vibrelle-sim --port 0 --json
  curl -s -H 'X-VBL-Client: 1' http://127.0.0.1:59723/v1/status
  curl -s -H 'X-VBL-Client: 1' -H 'Content-Type: application/json' \
       -d '{"mode":"controlled","intensity":0.5,"pulseRateHz":30,"sharpness":0.5,"transitionMs":40}' \
       http://127.0.0.1:59723/v1/resonance
  curl -s -d '{"path":"/v1/stop","status":503,"error":"busy","times":1}' \
       http://127.0.0.1:59723/_sim/faults
)HELP";
    return QString::fromUtf8(text);
}

} // namespace vibrelle::sim
