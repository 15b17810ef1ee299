#pragma once

#include <memory>

class QApplication;
class QWidget;

// The application object on the user's display, with the classic look. In a session with
// both Wayland and X11 it takes X11 (XWayland), where a window may place itself and stay on
// top, unless the user chose with QT_QPA_PLATFORM; Wayland alone runs natively. Without a
// display it says so in one line on standard error and ends the process with status 1.
std::unique_ptr<QApplication> OpenApplication(int& argc, char** argv);

// What the windows expect of the application object: the classic 3-D widget style,
// stand-ins for the design fonts that may be missing, the windows' own font for everything
// that sets none (message boxes, file dialogs), roles for screen readers, and windows of
// fixed size that stay so even where the title bar offers to maximise them.
void SetUpApplication();

// Undoes a window manager's minimising of a modal window: some (openbox) minimise it, and
// the window it belongs to with it, whatever the hints say, and nothing of the program
// is left on the screen.
void RestoreWhenMinimised(QWidget* dialog);
