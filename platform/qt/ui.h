#pragma once

#include <QString>
#include <functional>

class QWidget;

// Modal message boxes, always titled by the caller (the program uses "Varnello").
enum class MsgButtons { Ok, YesNo, YesNoCancel };
enum class MsgIcon { Exclamation, Question, Information };
enum class MsgAnswer { Ok, Yes, No, Cancel };

struct MessageBoxRequest {
    QString text;
    QString title;
    MsgButtons buttons;
    MsgIcon icon;
    MsgAnswer defaultButton;
};

MsgAnswer MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon,
                 MsgAnswer defaultButton, const QString& title);

// Tests answer message boxes through this; an empty handler restores the real QMessageBox.
using MessageBoxHandler = std::function<MsgAnswer(const MessageBoxRequest&)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

// The system's default beep. Counted so tests can see it.
void Beep();
int BeepCount();

// Lets queued window events run once; user input stays queued for the event loop.
void DoEvents();
// Lets them run until the window, just shown, is on the screen and painted; gives up
// after a second.
void DoEventsUntilPainted(QWidget* window);

// The window placement call, as the splash window uses it: positions in pixels,
// insertAfter HWND_TOPMOST or HWND_NOTOPMOST, flags SWP_NOACTIVATE | SWP_SHOWWINDOW.
inline constexpr int HWND_TOPMOST = -1;
inline constexpr int HWND_NOTOPMOST = -2;
inline constexpr unsigned SWP_NOACTIVATE = 0x10;
inline constexpr unsigned SWP_SHOWWINDOW = 0x40;
bool SetWindowPos(QWidget* window, int insertAfter, int x, int y, int width, int height,
                  unsigned flags);

// True when another copy of the program holds the instance lock; otherwise takes the
// lock for the rest of this process's life. The lock lives in a directory only this
// user can write ($XDG_RUNTIME_DIR, else a private one in the temporary directory), and
// a lock there that is not this user's own regular file is never obeyed.
bool AnotherInstanceRunning();

// Moves a window so that it stands in the middle of its screen, keeping its size.
void CenterWindow(QWidget* window);

// The classic 3-D widget style, and stand-ins for the design fonts that may be missing.
void UseClassicLook();
