#include "core/TimeSource.h"

#include <QObject>
#include <QSocketNotifier>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace vibrelle {

namespace {

double monotonicSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A timer on the controller's own clock: a timerfd with an absolute deadline on CLOCK_MONOTONIC,
// watched by the event loop. It fires at its deadline to the nanosecond (never before, late only by
// the loop's wake-up), where QTimer would round every wait up to whole milliseconds or, coarse,
// fire up to 5 % early. A repeating timer counts each interval from the end of the tick before, so
// two ticks are never closer than the interval.
class DeadlineTimer final : public Timer {
public:
    DeadlineTimer(double seconds, double interval, std::function<void()> callback)
        : m_fd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
        , m_interval(interval)
        , m_callback(std::make_shared<std::function<void()>>(std::move(callback)))
        , m_notifier(new QSocketNotifier(m_fd, QSocketNotifier::Read)) {
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier,
                         [this, callback = m_callback, alive = m_alive] {
                             std::uint64_t expirations = 0;
                             if (::read(m_fd, &expirations, sizeof expirations) != sizeof expirations ||
                                 !m_valid) {
                                 return;
                             }
                             m_valid = m_interval > 0;
                             // The callback may destroy this handle; it only touches its own copies.
                             (*callback)();
                             if (*alive && m_valid) {
                                 arm(monotonicSeconds() + m_interval); // from the end of this tick's work
                             }
                         });
        arm(monotonicSeconds() + seconds);
    }

    ~DeadlineTimer() override {
        *m_alive = false;
        // Unwatched before the descriptor goes, and deleted later: this may run inside its own signal.
        m_notifier->setEnabled(false);
        QObject::disconnect(m_notifier, nullptr, nullptr, nullptr);
        m_notifier->deleteLater();
        ::close(m_fd);
    }

    void invalidate() override {
        m_valid = false;
        const itimerspec disarmed{};
        ::timerfd_settime(m_fd, 0, &disarmed, nullptr);
    }

    bool isValid() const override { return m_valid; }

    void setFireTime(double uptime) override {
        if (m_valid) {
            arm(uptime);
        }
    }

private:
    void arm(double deadline) {
        // A deadline already past (or not a number) fires at once; one never reached, in 30 years.
        const double now = monotonicSeconds();
        if (!(deadline > now)) {
            deadline = now;
        }
        deadline = std::min(deadline, now + 1e9);
        itimerspec due{};
        due.it_value.tv_sec = static_cast<time_t>(deadline);
        due.it_value.tv_nsec = static_cast<long>((deadline - std::floor(deadline)) * 1e9);
        if (due.it_value.tv_sec == 0 && due.it_value.tv_nsec == 0) {
            due.it_value.tv_nsec = 1; // zero would disarm it
        }
        ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &due, nullptr);
    }

    int m_fd;
    double m_interval;
    bool m_valid = true;
    std::shared_ptr<std::function<void()>> m_callback;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    QSocketNotifier *m_notifier;
};

} // namespace

SystemTimeSource::SystemTimeSource() = default;

double SystemTimeSource::now() const {
    return monotonicSeconds();
}

std::unique_ptr<Timer> SystemTimeSource::startOneShot(double delaySeconds, std::function<void()> callback) {
    return std::make_unique<DeadlineTimer>(delaySeconds, 0, std::move(callback));
}

std::unique_ptr<Timer> SystemTimeSource::startRepeating(double intervalSeconds,
                                                        std::function<void()> callback) {
    return std::make_unique<DeadlineTimer>(intervalSeconds, intervalSeconds, std::move(callback));
}

} // namespace vibrelle
