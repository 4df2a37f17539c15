#pragma once

// A controller on virtual time with a scripted transport that stamps every request with the virtual
// time it left at. The construction's status request is answered and forgotten unless told
// otherwise, so tests start idle.

#include "core/ManualTimeSource.h"
#include "core/TesterController.h"
#include "support/FakeTransport.h"

#include <QTest>

#include <cmath>
#include <memory>

namespace vibrelle::testing {

inline const QString home = QStringLiteral("http://127.0.0.1:59723");

namespace paths {
inline const QString status = QStringLiteral("/v1/status");
inline const QString resonance = QStringLiteral("/v1/resonance");
inline const QString update = QStringLiteral("/v1/resonance/update");
inline const QString pause = QStringLiteral("/v1/resonance/pause");
inline const QString resume = QStringLiteral("/v1/resonance/resume");
inline const QString heartbeat = QStringLiteral("/v1/heartbeat");
inline const QString stop = QStringLiteral("/v1/stop");
inline const QString impulses = QStringLiteral("/v1/impulses");
inline const QString sequences = QStringLiteral("/v1/sequences");
} // namespace paths

struct ControllerFixture {
    std::shared_ptr<ManualTimeSource> clock = std::make_shared<ManualTimeSource>();
    FakeTransport *transport = nullptr;
    std::unique_ptr<TesterController> controller;

    explicit ControllerFixture(const QString &address = home, bool answerStatus = true) {
        auto fake = std::make_unique<FakeTransport>(clock.get());
        transport = fake.get();
        controller = std::make_unique<TesterController>(address, std::move(fake), clock);
        if (answerStatus && transport->openCount() == 1) {
            transport->replyOk();
            transport->clearSent();
        }
    }

    TesterController &c() { return *controller; }
    void advance(double seconds) { clock->advance(seconds); }
    void advanceTo(double time) { clock->advanceTo(time); }
    double now() const { return clock->now(); }
    void ok(const QJsonObject &extra = {}) { transport->replyOk(extra); }
    void failWith(int status) { transport->replyJson(status, {{QStringLiteral("ok"), false}}); }

    int count() const { return int(transport->sent().size()); }
    const FakeTransport::Sent &last() const { return transport->last(); }
    QString lastUrl() const { return last().request.url.toString(); }
    QStringList paths() const { return transport->paths(); }
    int countOf(const QString &path) const { return int(paths().count(path)); }
    QList<FakeTransport::Sent> requestsTo(const QString &path) const {
        QList<FakeTransport::Sent> found;
        for (const auto &sent : transport->sent()) {
            if (sent.path() == path) {
                found.append(sent);
            }
        }
        return found;
    }
    QStringList pathsWithoutHeartbeats() const {
        QStringList result = paths();
        result.removeAll(paths::heartbeat);
        return result;
    }

    // Advances in 0.5 ms steps until the wire holds `n` requests or `limit` seconds have passed.
    bool advanceUntilCount(int n, double limit) {
        for (const double end = now() + limit; count() < n && now() < end;) {
            advance(0.0005);
        }
        return count() >= n;
    }
    // Steps 1 ms at a time for `seconds`, answering every request at once; pause and resume
    // replies report the state they asked for.
    void runWithPromptReplies(double seconds) {
        for (const double end = now() + seconds - 1e-9; now() < end;) {
            advance(0.001);
            while (transport->openCount() > 0) {
                const QString path = transport->sent().at(count() - transport->openCount()).path();
                const bool pauseOrResume = path == paths::pause || path == paths::resume;
                ok(pauseOrResume ? QJsonObject{{QStringLiteral("paused"), path == paths::pause}} : QJsonObject{});
            }
        }
    }
    void startControlled() { // confirmed 2 ms after it left, and forgotten
        c().controlledResonance();
        advance(0.002);
        ok();
        transport->clearSent();
    }
};

// A data table whose rows are one struct each, read in the test with QFETCH(Row, row).
template <typename Row> void rows(std::initializer_list<std::pair<const char *, Row>> list) {
    QTest::addColumn<Row>("row");
    for (const auto &[name, row] : list) {
        QTest::newRow(name) << row;
    }
}

} // namespace vibrelle::testing

// Fails the current test unless |actual - expected| <= tolerance (NaN never passes).
#define VERIFY_NEAR(actual, expected, tolerance)                                                             \
    do {                                                                                                     \
        const double actual_ = (actual), expected_ = (expected);                                             \
        QVERIFY2(std::abs(actual_ - expected_) <= (tolerance),                                               \
                 qPrintable(QStringLiteral(#actual " is %1, expected %2")                                    \
                                .arg(actual_, 0, 'g', 12)                                                    \
                                .arg(expected_, 0, 'g', 12)));                                               \
    } while (false)
