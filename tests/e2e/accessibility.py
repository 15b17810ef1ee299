#!/usr/bin/python3
"""The main window and the information window as a screen reader finds them through
AT-SPI: every control named, with its role, and with its status-line help as its
description. Prints both trees.

usage: accessibility.py VARNELLO DEMO_DRIVE
Runs in an X server and a D-Bus session of its own (scripts/xvfb.sh, dbus-run-session).
Exit status 0 when every check passes, 1 on a failure, 77 (skipped) without pyatspi.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

try:
    import pyatspi
except ImportError:
    print("accessibility: python3-pyatspi is not installed; skipped")
    sys.exit(77)

program, demo = sys.argv[1:3]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("accessibility: FAILED:", what)


def tree(node, depth=0, lines=None):
    """(depth, role, name, description) of node and every descendant, in order."""
    lines = [] if lines is None else lines
    lines.append((depth, node.getRoleName(), node.name, node.description))
    for child in node:
        if child is not None:
            tree(child, depth + 1, lines)
    return lines


def window(title, timeout=60):
    """The program's top-level window of that title, once it holds its controls."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "Varnello":
                for top in app:
                    if top is not None and top.name == title and top.childCount > 0:
                        return top
        time.sleep(0.2)
    return None


def read_window(title, role, what):
    """The tree of the program's window of that title, printed after its role is checked;
    None when the window never came."""
    top = window(title)
    check(top is not None, f"no {what} through AT-SPI")
    if top is None:
        return None
    lines = tree(top)
    print(f"--- {what}")
    for depth, kind, name, description in lines:
        print("  " * depth + f"[{kind}] {name!r}" + (f" ({description})" if description else ""))
    check(lines[0][1] == role, f"the {what} is a {lines[0][1]}, not a {role}")
    return lines


work = tempfile.mkdtemp(prefix="varnello-a11y.")
drive = os.path.join(work, "drive")
shutil.copytree(demo, drive)
runtime = os.path.join(work, "runtime")
os.mkdir(runtime, 0o700)
env = dict(os.environ, VARNELLO_DRIVE_C=drive, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb",
           QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", WINEPREFIX=os.path.join(work, "no-wine"))
varnello = subprocess.Popen([program], env=env)
try:
    lines = read_window("Varnello", "frame", "main window")
    if lines is not None:
        controls = [line[1:] for line in lines[1:]]
        by_role = {}
        for role, name, description in controls:
            by_role.setdefault(role, []).append((name, description))
        # Every control a screen reader speaks has a name.
        for role in ("check box", "text", "push button", "label"):
            for name, _ in by_role.get(role, []):
                check(name, f"a {role} without a name")
        for role, count in (("check box", 12), ("text", 3), ("push button", 9), ("label", 3),
                            ("status bar", 1)):
            check(len(by_role.get(role, [])) == count,
                  f"{len(by_role.get(role, []))} controls of role {role}, expected {count}")
        for role in ("check box", "text"):
            for name, description in by_role.get(role, []):
                check(description, f"{role} {name!r} has no description")
        for control in (
                ("check box", "Show Startup Menu", "Enables automatic display of the Windows 95 Startup menu."),
                ("text", "Boot Delay (0-99)", "Sets the initial startup delay to n seconds."),
                ("label", "Boot Menu Delay (1-30)", "Sets the number of seconds to display the Windows Startup menu."),
                ("push button", "Boot Menu Item up", ""),
                ("push button", "Boot Menu Item down", ""),
                ("push button", "Exit", "Exit 'Varnello'"),
                ("push button", "Info About...", "Display the information dialog box")):
            check(control in controls, f"no {control}")

        # Enter on the first check box, where the focus starts, opens the information window.
        subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Varnello$",
                        "mousemove", "--window", "%1", "20", "20", "key", "Return"], check=False, timeout=60)
        lines = read_window("Varnello Info", "dialog", "information window")
        if lines is not None:
            texts = [name for _, role, name, _ in lines if role == "label"]
            for text in ("Varnello", "Windows 95 boot options", "full 32-bit"):
                check(text in texts, f"the information window does not read {text!r}")
            check(any(t.startswith("Version ") and t != "Version x.xx" for t in texts),
                  "the information window reads no version")
finally:
    varnello.kill()
    varnello.wait()
    shutil.rmtree(work, ignore_errors=True)

print("accessibility:", "FAILED" if failures else "all checks passed")
sys.exit(1 if failures else 0)
