#pragma once

// A controller on virtual time whose every request is stamped with the virtual
// time at which it left, so that tests can read the wire as the service sees it:
// the path, the method, the body parsed as JSON, and when it arrived.

#include "core/ManualTimeSource.h"
#include "core/TesterController.h"
#include "support/FakeTransport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <QTest>

#include <cmath>

#include <functional>
#include <memory>

namespace vibrelle::testing {

struct WireRequest {
    double at = 0;
    QByteArray method;
    QString url;
    QString path;
    QJsonObject body;
    bool hasBody = false;
};

struct EffectsFixture {
    static constexpr const char *homeAddress = "http://127.0.0.1:59723";

    std::shared_ptr<ManualTimeSource> clock = std::make_shared<ManualTimeSource>();
    FakeTransport *transport = nullptr;
    std::unique_ptr<TesterController> controller;

    explicit EffectsFixture(const QString &address = QString::fromLatin1(homeAddress)) {
        auto fake = std::make_unique<FakeTransport>(clock.get());
        transport = fake.get();
        controller = std::make_unique<TesterController>(address, std::move(fake), clock);
        // The construction's status request; tests start idle with an empty wire.
        if (transport->openCount() == 1) {
            transport->replyOk();
        }
        clearWire();
    }

    TesterController &c() { return *controller; }
    void advance(double seconds) { clock->advance(seconds); }
    double now() const { return clock->now(); }

    void clearWire() { transport->clearSent(); }

    int count() const { return static_cast<int>(transport->sent().size()); }
    int open() const { return transport->openCount(); }

    WireRequest at(int index) const {
        const auto &sent = transport->sent().at(index);
        WireRequest r;
        r.at = sent.at;
        r.method = sent.request.method;
        r.url = sent.request.url.toString();
        r.path = sent.path();
        r.hasBody = sent.request.body.has_value();
        const QJsonDocument doc = QJsonDocument::fromJson(sent.rawBody());
        r.body = doc.object();
        return r;
    }
    WireRequest last() const { return at(count() - 1); }

    QStringList paths() const { return transport->paths(); }
    int countOf(const QString &path) const { return static_cast<int>(paths().count(path)); }
    QList<WireRequest> requestsTo(const QString &path) const {
        QList<WireRequest> result;
        for (int i = 0; i < count(); ++i) {
            if (transport->sent().at(i).path() == path) {
                result.append(at(i));
            }
        }
        return result;
    }

    // Advances in small steps until the wire holds `n` requests or `limit` seconds have passed.
    bool advanceUntilCount(int n, double limit, double step = 0.001) {
        const double end = now() + limit;
        while (count() < n && now() < end) {
            advance(step);
        }
        return count() >= n;
    }

    // Starts a controlled resonance and confirms it after `replyAfter` seconds.
    void startControlled(double replyAfter = 0.002) {
        c().controlledResonance();
        advance(replyAfter);
        transport->replyOk();
    }
};

namespace paths {
inline const QString resonance = QStringLiteral("/v1/resonance");
inline const QString update = QStringLiteral("/v1/resonance/update");
inline const QString pause = QStringLiteral("/v1/resonance/pause");
inline const QString resume = QStringLiteral("/v1/resonance/resume");
inline const QString heartbeat = QStringLiteral("/v1/heartbeat");
inline const QString stop = QStringLiteral("/v1/stop");
inline const QString impulses = QStringLiteral("/v1/impulses");
inline const QString sequences = QStringLiteral("/v1/sequences");
} // namespace paths

} // namespace vibrelle::testing

// Fails the current test unless |actual - expected| <= tolerance (NaN never passes).
#define VERIFY_NEAR(actual, expected, tolerance)                                                             \
    do {                                                                                                     \
        const double actual_ = (actual);                                                                     \
        const double expected_ = (expected);                                                                 \
        if (!(std::abs(actual_ - expected_) <= (tolerance))) {                                               \
            QFAIL(qPrintable(QStringLiteral("%1 is %2, expected %3 within %4")                               \
                                 .arg(QStringLiteral(#actual))                                               \
                                 .arg(actual_, 0, 'g', 12)                                                   \
                                 .arg(expected_, 0, 'g', 12)                                                 \
                                 .arg(tolerance)));                                                          \
        }                                                                                                    \
    } while (false)
