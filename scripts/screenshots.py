#!/usr/bin/env python3
"""Pictures of the desktop program for docs/: the main window after a scan (legend shown), and
what its actions show: the IP address dialog with a device's settings, the message when no
browser starts, and the list after Auto IP (the dialogs' own pictures come from their tests).
Drives the real program like tests/e2e does.

Run as: scripts/testbed.sh run -- scripts/screenshots.py BUILD-DIR DOCS-DIR"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import scoutor_e2e as e2e  # noqa: E402

docs = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "docs")
os.makedirs(docs, exist_ok=True)


def grab(program, name):
    time.sleep(2.5)  # the scan's progress bar is gone by then
    program.ask("grab " + os.path.join(docs, name))
    print("saved", os.path.join(docs, name))


def dialog(program, action, kind, name, closing="Cancel"):
    program.ask("trigger " + action)
    program.modal_when(kind)
    grab(program, name)
    program.ask("click " + closing)
    e2e.wait_for("the dialog to close", lambda: program.modal()[0] == "none", 10)


display = e2e.Display()
program = e2e.Scoutor(display)
try:
    program.rows_when("3 rows", lambda rows: len(rows) == 3)
    program.ask("select 00:0A:1B:2C:3D:4E")
    grab(program, "main-window.png")
    dialog(program, "SetIPConfig", "scoutor::TIPConfigForm", "configure.png")
    # The test bed has no browser: Web shows its message.
    dialog(program, "Webserver", "QMessageBox", "web-failed.png", closing="OK")
    program.ask("select 00:0A:1B:2C:3D:50")
    program.ask("trigger AutoSetIP")
    program.rows_when("Far-3 reachable", lambda rows: any(r[0] == "Far-3" and r[5] == "-" for r in rows), 40)
    program.ask("select 00:0A:1B:2C:3D:50")
    grab(program, "after-auto-ip.png")
finally:
    program.close()
    display.close()
