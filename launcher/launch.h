#pragma once

#include <QString>
#include <string>
#include <vector>

// What varnello-open does with its command line: start varnello, ask the user for a
// boot drive, or refuse with a message.
enum class LaunchAction { Start, AskForDrive, Refuse };

struct LaunchChoice {
    LaunchAction action;
    std::string drive;  // Start: the absolute path to map as drive C; empty keeps the mapping
    QString problem;    // Refuse: what the user is told
};

// One path to open as drive C: a folder, a regular file (a disk image) or a block device,
// made absolute; a file named msdos.sys stands for its folder. Refused when empty,
// missing, of another kind, not reachable, or when it holds no msdos.sys as varnello
// would see it: drive C is mapped to it for the look.
LaunchChoice ChooseDrive(const std::string& path);

// The arguments after the program's name: one path as ChooseDrive takes it; none starts
// varnello at once when drive C already holds a msdos.sys, and asks for a drive otherwise.
// Options, and more than one argument, are refused.
LaunchChoice ChooseLaunch(const std::vector<std::string>& arguments);

// Replaces this process with varnello, drive C mapped to drive (left as it is when empty):
// the varnello beside this program's own executable, else the first on PATH. Returns only
// when that failed, with the message to show.
QString StartVarnello(const std::string& drive);
