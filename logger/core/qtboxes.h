#pragma once

namespace quillet {

// Routes the logger's boxes to real message boxes. On a display-less run
// (the offscreen platform) they go to UnattendedBox instead, so an unattended
// logger never waits on a box nobody can see; `evenWithoutDisplay` shows real
// windows there too (tests look at them). Boxes shown without waiting are
// not stacked: one of a title stays open, counting the further ones in its
// text, and a question already open is only brought to the front.
void InstallQtMessageBoxes(bool evenWithoutDisplay = false);

} // namespace quillet
