#include "app/TerminationHandshake.h"

namespace vibrelle {

TerminationHandshake::TerminationHandshake(std::shared_ptr<TimeSource> time, std::function<void()> terminate,
                                           double fallbackSeconds, QObject *parent)
    : QObject(parent)
    , m_time(std::move(time))
    , m_terminate(std::move(terminate))
    , m_fallbackSeconds(fallbackSeconds) {}

TerminationHandshake::~TerminationHandshake() = default;

void TerminationHandshake::setController(TesterController *controller) {
    m_controller = controller;
}

TerminationHandshake::Reply TerminationHandshake::requestTermination() {
    if (m_awaitingTermination) {
        // A second request while the first is deferred: the deferred answer is void.
        m_awaitingTermination = false;
        m_fallback.reset();
        return Reply::terminateNow;
    }
    if (!m_controller) {
        return Reply::terminateNow;
    }
    m_awaitingTermination = true;

    // The controller may call the completion before stopForTermination returns; the
    // answer still waits for the next turn of the event loop. A queued call on `this`
    // is dropped if the handshake is gone by then.
    QPointer<TerminationHandshake> self(this);
    m_controller->stopForTermination([self] {
        if (self) {
            QMetaObject::invokeMethod(self, &TerminationHandshake::answer, Qt::QueuedConnection);
        }
    });
    m_fallback = m_time->startOneShot(m_fallbackSeconds, [self] {
        if (self) {
            self->answer();
        }
    });
    return Reply::terminateLater;
}

void TerminationHandshake::quit() {
    if (requestTermination() == Reply::terminateNow) {
        m_terminate();
    }
}

void TerminationHandshake::answer() {
    if (!m_awaitingTermination) {
        return;
    }
    m_awaitingTermination = false;
    m_fallback.reset();
    m_terminate();
}

} // namespace vibrelle
