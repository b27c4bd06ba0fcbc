// Where the window's parts are, the same whatever draws them: the client area and the two
// buttons, in pixels at 96 dots per inch.
#pragma once

namespace app::window_geometry {

constexpr int kBaseDpi = 96;
constexpr int kClientWidth = 312;
constexpr int kClientHeight = 213;
constexpr int kButtonLeft = 48;
constexpr int kPlayOnTop = 64;   // "Start"
constexpr int kExitMeTop = 120;  // "Sluta"
constexpr int kButtonWidth = 89;
constexpr int kButtonHeight = 33;

}  // namespace app::window_geometry
