#pragma once
// Opening the logger's dialogs from the main window's menus. The core never
// includes this layer; the program's entry wires it to the window.

class QWidget;

namespace quillet {

class frmMain;

// Tools > Settings: the settings dialog, loaded from the current settings and
// modal over the whole program. It is shown without blocking the caller, so a
// poll that was waiting on the device when the menu was chosen goes on.
void ShowSettingsDialog(QWidget *parent);
// Help > About.
void ShowAboutBox(QWidget *parent);
// Connects the window's two menu signals to the functions above.
void ConnectDialogs(frmMain &form);
// Connects them to the main window as soon as it is first shown.
void InstallDialogWiring();

} // namespace quillet
