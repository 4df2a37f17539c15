#pragma once

#include <functional>
#include <memory>

namespace vibrelle {

// A scheduled wake-up. Destroying the handle invalidates it; an invalidated
// timer never runs its callback again, even when its fire time has passed.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void invalidate() = 0;
    // A one-shot timer is valid until it fires or is invalidated; a repeating one until invalidated.
    [[nodiscard]] virtual bool isValid() const = 0;
    // Moves the next fire time of a valid timer to the given uptime (seconds).
    virtual void setFireTime(double uptime) = 0;
};

// The controller's one source of time: the monotonic uptime in seconds, and every
// one-shot, repeating and deferred wake-up. Production wraps the steady clock and
// main-thread timers; tests advance a manual source.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    [[nodiscard]] virtual double now() const = 0;
    [[nodiscard]] virtual std::unique_ptr<Timer> startOneShot(double delaySeconds, std::function<void()> callback) = 0;
    [[nodiscard]] virtual std::unique_ptr<Timer> startRepeating(double intervalSeconds,
                                                                std::function<void()> callback) = 0;
};

// The monotonic clock, and timers on the calling (main) thread's event loop that fire at their
// deadline on that same clock, never before it.
class SystemTimeSource final : public TimeSource {
public:
    SystemTimeSource();
    [[nodiscard]] double now() const override;
    [[nodiscard]] std::unique_ptr<Timer> startOneShot(double delaySeconds, std::function<void()> callback) override;
    [[nodiscard]] std::unique_ptr<Timer> startRepeating(double intervalSeconds,
                                                        std::function<void()> callback) override;
};

} // namespace vibrelle
