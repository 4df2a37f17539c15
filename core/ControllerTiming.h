#pragma once

// Timing rules that more than one of the controller's life cycles follow, in seconds of the
// controller's clock. Each life cycle keeps its other constants to itself.

namespace vibrelle::timing {

// Between two sends of an effect start, live update, pause or resume; the release impulse keeps it too.
inline constexpr double updateSpacing = 0.05;
// The shortest wait a one-shot timer is armed with.
inline constexpr double minimumTimerDelay = 0.001;
// How long after a timed deadline the stop goes out, and after a sequence's end its window closes.
inline constexpr double effectEndMargin = 0.15;

} // namespace vibrelle::timing
