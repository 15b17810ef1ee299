#pragma once

#include <QString>
#include <memory>

class VRNL;

// The boot path that a command-line argument selects: a single letter A-Z in either
// case gives that letter as typed followed by ":\"; anything else gives "C:\".
QString BootPathFromArgument(const QString& argument);

// The running Windows version as text, "4.00" style, in the user's locale.
QString WindowsVersion();
// True when that text, read back in the same locale, equals 4.
bool IsWindows95(const QString& version);

// Runs the start-up sequence, which decides the boot drive from the argument. Returns the
// main window, shown, or nullptr when the program is to end (another copy runs, or a
// refusal was shown).
VRNL* Startup(const QString& argument);
