#pragma once

namespace quillet {

// Routes the logger's boxes to real message boxes. On a display-less run
// (the offscreen platform) they go to UnattendedBox instead, so an unattended
// logger never waits on a box nobody can see.
void InstallQtMessageBoxes();

} // namespace quillet
