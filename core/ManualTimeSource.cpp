#include "core/ManualTimeSource.h"

#include <algorithm>
#include <cmath>

namespace vibrelle {

struct ManualTimeSource::Entry {
    double fireTime = 0;
    double interval = 0;
    bool repeating = false;
    bool valid = true;
    std::uint64_t sequence = 0;
    std::function<void()> callback;
};

namespace {

class ManualTimer final : public Timer {
public:
    ManualTimer(std::shared_ptr<ManualTimeSource::Entry> entry, const ManualTimeSource &clock, std::uint64_t *sequence)
        : m_entry(std::move(entry))
        , m_clock(clock)
        , m_sequence(sequence)
    {
    }
    ~ManualTimer() override { invalidate(); }
    void invalidate() override
    {
        m_entry->valid = false;
        m_entry->callback = nullptr;
    }
    bool isValid() const override { return m_entry->valid; }
    void setFireTime(double uptime) override
    {
        if (m_entry->valid) {
            m_entry->fireTime = std::max(uptime, m_clock.now());
            m_entry->sequence = ++*m_sequence;
        }
    }

private:
    std::shared_ptr<ManualTimeSource::Entry> m_entry;
    const ManualTimeSource &m_clock;
    std::uint64_t *m_sequence;
};

} // namespace

ManualTimeSource::ManualTimeSource(double start)
    : m_now(start)
{
}

ManualTimeSource::~ManualTimeSource() = default;

std::unique_ptr<Timer> ManualTimeSource::startOneShot(double delaySeconds, std::function<void()> callback)
{
    return add(delaySeconds, false, std::move(callback));
}

std::unique_ptr<Timer> ManualTimeSource::startRepeating(double intervalSeconds, std::function<void()> callback)
{
    return add(intervalSeconds, true, std::move(callback));
}

std::unique_ptr<Timer> ManualTimeSource::add(double delay, bool repeating, std::function<void()> callback)
{
    auto entry = std::make_shared<Entry>();
    const double safeDelay = std::isfinite(delay) && delay > 0 ? delay : 0.0;
    entry->fireTime = m_now + safeDelay;
    entry->interval = safeDelay;
    entry->repeating = repeating;
    entry->sequence = ++m_sequence;
    entry->callback = std::move(callback);
    m_entries.push_back(entry);
    return std::make_unique<ManualTimer>(entry, *this, &m_sequence);
}

std::shared_ptr<ManualTimeSource::Entry> ManualTimeSource::nextDue(double limit) const
{
    std::shared_ptr<Entry> best;
    for (const auto &entry : m_entries) {
        if (!entry->valid || entry->fireTime > limit) {
            continue;
        }
        if (!best || entry->fireTime < best->fireTime ||
            (entry->fireTime == best->fireTime && entry->sequence < best->sequence)) {
            best = entry;
        }
    }
    return best;
}

void ManualTimeSource::advance(double seconds)
{
    advanceTo(m_now + seconds);
}

void ManualTimeSource::advanceTo(double uptime)
{
    while (auto entry = nextDue(uptime)) {
        m_now = std::max(m_now, entry->fireTime);
        if (entry->repeating) {
            // A zero interval would spin forever; such a timer fires once per advance step.
            entry->fireTime += entry->interval > 0 ? entry->interval : (uptime - m_now) + 1e-9;
            entry->sequence = ++m_sequence;
        } else {
            entry->valid = false;
        }
        auto callback = entry->callback;
        if (!entry->repeating) {
            entry->callback = nullptr;
        }
        if (callback) {
            callback();
        }
    }
    m_now = std::max(m_now, uptime);
    std::erase_if(m_entries, [](const auto &entry) { return !entry->valid; });
}

int ManualTimeSource::activeTimerCount() const
{
    return static_cast<int>(std::count_if(m_entries.begin(), m_entries.end(), [](const auto &e) { return e->valid; }));
}

std::optional<double> ManualTimeSource::nextFireTime() const
{
    std::optional<double> earliest;
    for (const auto &entry : m_entries) {
        if (entry->valid && (!earliest || entry->fireTime < *earliest)) {
            earliest = entry->fireTime;
        }
    }
    return earliest;
}

} // namespace vibrelle
