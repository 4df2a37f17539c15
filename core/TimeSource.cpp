#include "core/TimeSource.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace vibrelle {

namespace {

int toMilliseconds(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0) {
        return 0;
    }
    return static_cast<int>(std::min(std::ceil(seconds * 1000.0), 2.0e9));
}

class QtTimer final : public Timer {
public:
    QtTimer(const TimeSource &clock, double seconds, bool repeating, std::function<void()> callback)
        : m_clock(clock)
        , m_timer(new QTimer)
        , m_repeating(repeating)
        , m_callback(std::make_shared<std::function<void()>>(std::move(callback)))
    {
        m_timer->setSingleShot(!repeating);
        // The throttle and the release timer need millisecond precision; the heartbeat tolerates 10%.
        m_timer->setTimerType(repeating ? Qt::CoarseTimer : Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, m_timer, [this, callback = m_callback] {
            if (!m_valid) {
                return;
            }
            if (!m_repeating) {
                m_valid = false;
            }
            // The callback may destroy this handle; it only touches its own copy.
            const auto keep = callback;
            (*keep)();
        });
        m_timer->start(toMilliseconds(seconds));
    }

    ~QtTimer() override
    {
        m_valid = false;
        m_timer->stop();
        QObject::disconnect(m_timer, nullptr, nullptr, nullptr);
        m_timer->deleteLater();
    }

    void invalidate() override
    {
        m_valid = false;
        m_timer->stop();
    }

    bool isValid() const override { return m_valid; }

    void setFireTime(double uptime) override
    {
        if (!m_valid) {
            return;
        }
        m_timer->start(toMilliseconds(uptime - m_clock.now()));
    }

private:
    const TimeSource &m_clock;
    QTimer *m_timer;
    bool m_repeating;
    bool m_valid = true;
    std::shared_ptr<std::function<void()>> m_callback;
};

} // namespace

SystemTimeSource::SystemTimeSource() = default;

double SystemTimeSource::now() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::unique_ptr<Timer> SystemTimeSource::startOneShot(double delaySeconds, std::function<void()> callback)
{
    return std::make_unique<QtTimer>(*this, delaySeconds, false, std::move(callback));
}

std::unique_ptr<Timer> SystemTimeSource::startRepeating(double intervalSeconds, std::function<void()> callback)
{
    return std::make_unique<QtTimer>(*this, intervalSeconds, true, std::move(callback));
}

} // namespace vibrelle
