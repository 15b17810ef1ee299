#pragma once

#include <QtGlobal>

// True when another copy of the program holds the instance lock; otherwise takes the
// lock for the rest of this process's life. The lock lives in a directory only this
// user can write ($XDG_RUNTIME_DIR, else a private one in the temporary directory), and
// a lock there that is not this user's own regular file is never obeyed.
bool AnotherInstanceRunning();

// The process id of the copy of the program that runs now, or 0; leaves the lock free.
qint64 RunningInstance();
