#pragma once

#include <string>

// What every refusal of a path tells the user to give instead.
inline constexpr const char* WhatVarnelloNeeds = "Give the folder or the disk image of a Windows 95 boot drive.";

// The boot drive a path on the host names, for the programs beside the window.
struct HostBootDrive {
    std::string drive;    // the absolute path drive C now maps to; empty when refused
    std::string problem;  // why the path was refused, lines joined by CR LF; empty when not
};

// Maps drive C (VARNELLO_DRIVE_C) to a folder, a regular file (a disk image) or a block
// device, made absolute; a file named msdos.sys stands for its folder. Refused when empty,
// missing, of another kind, not reachable, or when it holds no msdos.sys as the window
// would see it through that mapping (and VARNELLO_PARTITION_C as it stands).
HostBootDrive MapBootDrive(const std::string& path);
