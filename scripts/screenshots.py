#!/usr/bin/python3
"""Pictures of the desktop program for docs/: the main window after a scan (legend shown), and
what its actions show: the IP address dialog with a device's settings, the message when no
browser starts, and the list after Auto IP (the dialogs' own pictures come from their tests).
Drives the real program through the accessibility bus like tests/e2e does, and takes each
picture from the screen where the window's accessible object says it is.

Run as: scripts/testbed.sh run -- scripts/screenshots.py BUILD-DIR DOCS-DIR
(Debian's python3 with python3-pyatspi, and ImageMagick's import.)"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import scoutor_e2e as e2e  # noqa: E402  (takes BUILD-DIR from the arguments)

docs = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "docs")
os.makedirs(docs, exist_ok=True)


def grab(display, window, name):
    time.sleep(2.5)  # the scan's progress bar is gone by then
    box = window.queryComponent().getExtents(e2e.pyatspi.DESKTOP_COORDS)
    path = os.path.join(docs, name)
    subprocess.run(["import", "-display", display.name, "-window", "root", "-crop",
                    f"{box.width}x{box.height}+{box.x}+{box.y}", "+repage", path], check=True, timeout=30)
    print("saved", path)


def dialog(program, button, title, name, closing="Cancel", role=None):
    program.press(program.tool_button(button))
    window = program.window(title, role=role)
    grab(program.display, window, name)
    program.press(program.button(window, closing))
    program.hidden(title, role=role)


e2e.quiet_binding_warnings()
display = e2e.Display()
buses = e2e.Buses(display)
program = e2e.Scoutor(display, buses)
try:
    program.rows_when("3 rows", lambda rows: len(rows) == 3)
    program.select(e2e.AP1)
    grab(display, program.main_window(), "main-window.png")
    dialog(program, "Configure", "IP Address Properties", "configure.png")
    # The test bed has no browser: Web shows its message.
    dialog(program, "Web", "scoutor", "web-failed.png", closing="OK", role=e2e.pyatspi.ROLE_ALERT)
    program.select(e2e.FAR3)
    program.press(program.tool_button("Auto IP"))
    program.rows_when("Far-3 reachable in the PC's subnet", lambda rows: any(
        r[0] == "Far-3" and r[3] and r[2].startswith("10.0.0.") and r[5] == "" for r in rows), 40)
    program.select(e2e.FAR3)
    grab(display, program.main_window(), "after-auto-ip.png")
finally:
    program.close()
    buses.close()
    display.close()
