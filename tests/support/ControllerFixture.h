#pragma once

#include "core/ManualTimeSource.h"
#include "core/TesterController.h"
#include "support/FakeTransport.h"

#include <memory>

namespace vibrelle::testing {

// A controller on virtual time with a scripted transport. The construction's
// status request is answered unless told otherwise, so tests start idle.
struct ControllerFixture {
    std::shared_ptr<ManualTimeSource> clock = std::make_shared<ManualTimeSource>();
    FakeTransport *transport = nullptr;
    std::unique_ptr<TesterController> controller;

    explicit ControllerFixture(const QString &address = QStringLiteral("http://127.0.0.1:59723"),
                               bool answerStatus = true)
    {
        auto fake = std::make_unique<FakeTransport>();
        transport = fake.get();
        controller = std::make_unique<TesterController>(address, std::move(fake), clock);
        if (answerStatus && transport->openCount() == 1) {
            transport->replyOk();
            transport->clearSent();
        }
    }

    TesterController &c() { return *controller; }
    void advance(double seconds) { clock->advance(seconds); }
};

} // namespace vibrelle::testing
