#pragma once

#include "core/TesterController.h"
#include "core/TimeSource.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace vibrelle {

// Holds a quit request back until the running effect has been stopped on the service.
//
// requestTermination() asks the controller to stop for termination and answers
// "later"; the real answer (the terminate callback) comes when that stop has completed,
// always on a later turn of the event loop, or when the fallback delay has passed,
// whichever is first. A second request while one is deferred, or a request before the
// window has been shown (no controller yet), answers "now".
class TerminationHandshake final : public QObject {
    Q_OBJECT
public:
    enum class Reply { terminateNow, terminateLater };
    static constexpr double defaultFallbackSeconds = 2.5;

    // `terminate` is called once when a deferred request is answered.
    TerminationHandshake(std::shared_ptr<TimeSource> time, std::function<void()> terminate,
                         double fallbackSeconds = defaultFallbackSeconds, QObject *parent = nullptr);
    ~TerminationHandshake() override;

    // Learned when the window is first shown; held weakly.
    void setController(TesterController *controller);
    TesterController *controller() const { return m_controller; }

    Reply requestTermination();
    // Requests termination and terminates at once when the answer is "now".
    void quit();

    bool awaitingTermination() const { return m_awaitingTermination; }

private:
    void answer();

    std::shared_ptr<TimeSource> m_time;
    std::function<void()> m_terminate;
    double m_fallbackSeconds;
    QPointer<TesterController> m_controller;
    bool m_awaitingTermination = false;
    std::unique_ptr<Timer> m_fallback;
};

} // namespace vibrelle
