#pragma once

// Where bench-bare-window puts its one QSlider in "slider" mode (window coordinates), for
// bench-refresh to drag it as it drags the tester's.

namespace bench::bare {

constexpr int sliderX = 20, sliderY = 30, sliderWidth = 480, sliderHeight = 20;

} // namespace bench::bare
