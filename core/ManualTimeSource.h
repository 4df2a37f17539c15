#pragma once

#include "core/TimeSource.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vibrelle {

// Virtual time for tests, benchmarks and snapshots: one object owns "now" and every
// scheduled wake-up. advance() moves time forward and runs due callbacks in order
// of their fire time (then of their scheduling), with "now" set to each fire time.
class ManualTimeSource final : public TimeSource {
public:
    explicit ManualTimeSource(double start = 1000.0);
    ~ManualTimeSource() override;

    [[nodiscard]] double now() const override { return m_now; }
    [[nodiscard]] std::unique_ptr<Timer> startOneShot(double delaySeconds, std::function<void()> callback) override;
    [[nodiscard]] std::unique_ptr<Timer> startRepeating(double intervalSeconds,
                                                        std::function<void()> callback) override;

    void advance(double seconds);
    void advanceTo(double uptime);
    // Number of valid timers, and the earliest fire time among them.
    [[nodiscard]] int activeTimerCount() const;
    [[nodiscard]] std::optional<double> nextFireTime() const;

    struct Entry;

private:
    std::unique_ptr<Timer> add(double delay, bool repeating, std::function<void()> callback);
    std::shared_ptr<Entry> nextDue(double limit) const;

    double m_now;
    std::uint64_t m_sequence = 0;
    std::vector<std::shared_ptr<Entry>> m_entries;
};

} // namespace vibrelle
