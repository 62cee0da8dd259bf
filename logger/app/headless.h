#pragma once
// Headless by itself: with no display to show a window on, the logger runs on
// the offscreen platform and talks to nobody but standard error.

namespace quillet {
class AlarmPipeline;
}

namespace quillet::app {

// Before the application object exists: with neither DISPLAY nor
// WAYLAND_DISPLAY, and no platform chosen by the user (QT_QPA_PLATFORM),
// selects the offscreen platform. True when it did.
bool ChooseHeadlessPlatform();

// Once the application object exists: true on a platform without a screen
// (chosen above or by the user), where boxes are written, not shown.
bool IsHeadless();

// Each condition of the watch over the alarm path, as it begins and as it
// ends, one line on standard error (the journal of a logger without a
// window): "Quillet: NETWORK LOST not registered, searching since ...".
void JournalSupervision(AlarmPipeline &pipeline);

} // namespace quillet::app
