#pragma once
// Headless by itself: with no display to show a window on, the logger runs on
// the offscreen platform and talks to nobody but standard error.

namespace quillet::app {

// Before the application object exists: with neither DISPLAY nor
// WAYLAND_DISPLAY, and no platform chosen by the user (QT_QPA_PLATFORM),
// selects the offscreen platform. True when it did.
bool ChooseHeadlessPlatform();

// Once the application object exists: true on a platform without a screen
// (chosen above or by the user), where boxes are written, not shown.
bool IsHeadless();

} // namespace quillet::app
