#pragma once

#include <QPoint>
#include <optional>

#include <QString>

class QWidget;

// The system's default beep.
void Beep();

// Lets queued window events run once; user input stays queued for the event loop.
void ProcessPendingEvents();
// Lets them run until the window, just shown, is on the screen and painted; gives up
// after a second.
void ProcessEventsUntilPainted(QWidget* window);

// The left mouse button and the pointer now, as the window system sees them: a release or
// a move not yet delivered (still queued, or held back while pending events run) counts.
// Where the window system cannot be asked, the button as far as the events delivered tell,
// and no position.
struct PointerNow {
    bool leftHeld;
    std::optional<QPoint> position;  // global
};
PointerNow AskPointer();

// Keeps a window above all others, or lets it go, in place: a window already shown is
// never made anew, which would map a second one for a moment.
void SetStaysOnTop(QWidget* window, bool onTop);

// Asks the window manager to bring the topmost window of process pid to the front, where
// the window system lets a program ask (X with an EWMH window manager).
void BringToFront(qint64 pid);

// Moves a window so that it stands in the middle of its screen, keeping its size.
void CenterWindow(QWidget* window);
