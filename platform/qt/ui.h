#pragma once

#include <QString>
#include <memory>

class QApplication;
class QWidget;

// The application object on the user's display, with the classic look. In a session with
// both Wayland and X11 it takes X11 (XWayland), where a window may place itself and stay on
// top, unless the user chose with QT_QPA_PLATFORM; Wayland alone runs natively. Without a
// display it says so in one line on standard error and ends the process with status 1.
std::unique_ptr<QApplication> OpenApplication(int& argc, char** argv);

// Modal message boxes, always titled by the caller (the program uses "Varnello"). Closing
// one by its title bar answers Cancel where there is one, otherwise No, otherwise OK.
enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageIcon { Exclamation, Question, Information };
enum class MessageAnswer { Ok, Yes, No, Cancel };

MessageAnswer ShowMessageBox(const QString& text, MessageButtons buttons, MessageIcon icon,
                             MessageAnswer defaultButton, const QString& title);

// The system's default beep.
void Beep();

// Lets queued window events run once; user input stays queued for the event loop.
void ProcessPendingEvents();
// Lets them run until the window, just shown, is on the screen and painted; gives up
// after a second.
void ProcessEventsUntilPainted(QWidget* window);

// True while the left mouse button is down now, as the window system sees it: a release
// not yet delivered (still queued, or held back while pending events run) counts.
// Where the window system cannot be asked, as far as the events delivered tell.
bool LeftButtonHeld();

// Keeps a window above all others, or lets it go, in place: a window already shown is
// never made anew, which would map a second one for a moment.
void SetStaysOnTop(QWidget* window, bool onTop);

// Undoes a window manager's minimising of a modal window: some (openbox) minimise it, and
// the window it belongs to with it, whatever the hints say, and nothing of the program
// is left on the screen.
void RestoreWhenMinimised(QWidget* dialog);

// True when another copy of the program holds the instance lock; otherwise takes the
// lock for the rest of this process's life. The lock lives in a directory only this
// user can write ($XDG_RUNTIME_DIR, else a private one in the temporary directory), and
// a lock there that is not this user's own regular file is never obeyed.
bool AnotherInstanceRunning();

// The process id of the copy of the program that runs now, or 0; leaves the lock free.
qint64 RunningInstance();
// Asks the window manager to bring the topmost window of process pid to the front, where
// the window system lets a program ask (X with an EWMH window manager).
void BringToFront(qint64 pid);

// Moves a window so that it stands in the middle of its screen, keeping its size.
void CenterWindow(QWidget* window);

// What the windows expect of the application object: the classic 3-D widget style,
// stand-ins for the design fonts that may be missing, the windows' own font for everything
// that sets none (message boxes, file dialogs), roles for screen readers, and windows of
// fixed size that stay so even where the title bar offers to maximise them.
void SetUpApplication();
