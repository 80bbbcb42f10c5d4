#!/usr/bin/python3
"""The desktop program end to end: the real scoutor process on a private Xvfb, inside the host
namespace of the test bed that tests/e2e/run_e2e.sh builds (AP-1 and Cam-2 beside the PC, Far-3 in
a foreign subnet, Mute-4 which never answers a request for its settings), read as a screen reader
reads it, through the accessibility bus, and worked with the pointer and the keyboard of X.

The buses are private: a session bus and the accessibility bus (at-spi-bus-launcher's) listen on
path sockets in a temporary folder, which programs in any network namespace reach alike.

Run as: tests/e2e/run_e2e.sh BUILD-DIR (Debian's python3 with python3-pyatspi).
Every wait is bounded; the programs it starts end with it."""
import atexit
import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import warnings

from gi.repository import GLib

BUILD = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "build")
SCOUTOR = os.path.join(BUILD, "ui", "scoutor")
LOGS = os.environ.get("TB_DIR", "")

# The devices of the test bed, by ID.
AP1 = "00:0A:1B:2C:3D:4E"
CAM2 = "00:0A:1B:2C:3D:4F"
FAR3 = "00:0A:1B:2C:3D:50"
MUTE4 = "00:0A:1B:2C:3D:52"
DEVICE_COUNT = 4
NOT_REACHABLE = "device is not reachable"
ID_COLUMN = 3

# Imported once the private buses run: they read the bus addresses on their first call.
pyatspi = None
Atspi = None
started = []  # every process started here, ended at exit whatever happened
folders = []  # likewise removed


_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1
_PR_SET_CHILD_SUBREAPER = 36
# What the children leave behind (the accessibility bus and its registry, a transfer of
# tftpd-hpa) comes back to this process instead of init, so that it ends here too.
_libc.prctl(_PR_SET_CHILD_SUBREAPER, 1)


def end_started_processes():
    for process in reversed(list(started)):
        stop(process)
    end_orphans()
    for folder in folders:
        shutil.rmtree(folder, ignore_errors=True)


def temporary_folder(prefix):
    folder = tempfile.mkdtemp(prefix=prefix)
    folders.append(folder)
    return folder


def end_orphans():
    """Ends and reaps whatever children are left that no Popen knows: the orphans taken in."""
    known = {process.pid for process in started}
    for sig in (signal.SIGTERM, signal.SIGKILL):
        orphans = [pid for pid in child_pids() if pid not in known]
        for pid in orphans:
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + 5
        while orphans and time.monotonic() < deadline:
            orphans = [pid for pid in orphans if not reaped(pid)]
            time.sleep(0.05)
        if not orphans:
            break


def child_pids():
    pids = set()
    for task in os.listdir("/proc/self/task"):
        with open(f"/proc/self/task/{task}/children", encoding="ascii") as listing:
            pids.update(int(pid) for pid in listing.read().split())
    return pids


def reaped(pid):
    try:
        return os.waitpid(pid, os.WNOHANG)[0] == pid
    except ChildProcessError:
        return True


atexit.register(end_started_processes)


def interrupted(*_):
    # As Ctrl-C: unittest stops at once (it would count a SystemExit as one failed case and go
    # on), and the exit handlers above end everything.
    raise KeyboardInterrupt


# A time-out's TERM ends the run through the same cleanups as a failure.
signal.signal(signal.SIGTERM, interrupted)


def start(arguments, **options):
    """Popen that also ends the child when this script dies without its cleanups."""
    process = subprocess.Popen(arguments, stdout=options.pop("stdout", subprocess.DEVNULL),
                               stderr=options.pop("stderr", subprocess.DEVNULL),
                               preexec_fn=lambda: _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGTERM), **options)
    started.append(process)
    return process


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    if process in started:
        started.remove(process)


def wait_for(what, condition, seconds):
    """Polls `condition` until it gives something true, for at most `seconds`."""
    deadline = time.monotonic() + seconds
    while True:
        take_events()
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.1)


def take_events():
    """Lets libatspi take the bus's news: its list of applications follows them coming and
    going only while the GLib loop turns."""
    if pyatspi is None:
        return
    context = GLib.MainContext.default()
    for _ in range(1000):
        if not context.iteration(False):
            break


class Display:
    """A private Xvfb reached through its socket under /tmp/.X11-unix, and its pointer and
    keyboard through xdotool. There is no window manager: windows take the focus from
    xdotool."""

    def __init__(self):
        number = next(n for n in range(200, 300)
                      if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"))
        self.name = f":{number}"
        self.process = start(["Xvfb", self.name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"])
        wait_for("Xvfb", lambda: os.path.exists(f"/tmp/.X11-unix/X{number}"), 10)

    def xdotool(self, *arguments):
        return subprocess.run(["xdotool", *arguments], env=dict(os.environ, DISPLAY=self.name), timeout=10,
                              check=True, capture_output=True, text=True).stdout

    def click(self, x, y):
        # Not "mousemove --sync": it waits for a motion that never comes when the pointer is
        # there already.
        self.xdotool("mousemove", str(x), str(y), "click", "1")

    def focus(self, title):
        """Gives the keyboard to the shown window of this title."""
        window = wait_for(f"an X window named {title}", lambda: self.windows(title), 10)
        self.xdotool("windowfocus", "--sync", window[0])

    def windows(self, title):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                               env=dict(os.environ, DISPLAY=self.name), capture_output=True, text=True, timeout=10)
        return found.stdout.split()

    def keys(self, *names):
        self.xdotool("key", "--delay", "30", *names)

    def type(self, text):
        self.xdotool("type", "--delay", "30", text)

    def close(self):
        stop(self.process)


def quiet_binding_warnings():
    """pyatspi calls libatspi's older names, and gi's importer predates exec_module: noise that
    says nothing about the program. (unittest resets the filters when it starts.)"""
    warnings.filterwarnings("ignore", category=DeprecationWarning, module=r"pyatspi\.")
    warnings.filterwarnings("ignore", category=ImportWarning, message="DynamicImporter")


class Buses:
    """A session bus and the accessibility bus, both on path sockets in a private folder that
    also stands as XDG_RUNTIME_DIR: at-spi-bus-launcher puts the accessibility bus there and
    publishes its address on the session bus (org.a11y.Bus GetAddress), where Qt and libatspi
    look for it."""

    # The session bus starts no services of its own: the launcher is the one started here.
    SESSION_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>{address}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

    def __init__(self, display):
        self.folder = temporary_folder("scoutor-e2e-bus-")
        self.session_address = "unix:path=" + os.path.join(self.folder, "session")
        config = os.path.join(self.folder, "session.conf")
        with open(config, "w", encoding="utf-8") as out:
            out.write(self.SESSION_CONFIG.format(address=self.session_address))
        self.session = start(["dbus-daemon", "--nofork", "--config-file=" + config])
        wait_for("the session bus", lambda: os.path.exists(os.path.join(self.folder, "session")), 10)
        # Without a display: the launcher would also write the address on the X root window,
        # where Qt would take it before it listens for the accessibility bridge being enabled.
        launcher_env = self.env(display)
        del launcher_env["DISPLAY"]
        self.launcher = start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=launcher_env)
        self.address = wait_for("the accessibility bus address", self.published_address, 10)
        if not self.address.startswith("unix:path=" + self.folder + "/"):
            raise AssertionError(f"the accessibility bus is not on a path socket of ours: {self.address}")
        # This process finds the accessibility bus as the program does, through the session bus.
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.session_address
        global pyatspi, Atspi
        import pyatspi as module
        from gi.repository import Atspi as library
        pyatspi, Atspi = module, library

    def env(self, display):
        env = dict(os.environ, DISPLAY=display.name, DBUS_SESSION_BUS_ADDRESS=self.session_address,
                   XDG_RUNTIME_DIR=self.folder)
        # Qt takes a given address before it listens for its bridge being enabled, and stays
        # off: the address comes from the session bus only.
        env.pop("AT_SPI_BUS_ADDRESS", None)
        return env

    def published_address(self):
        answer = subprocess.run(["dbus-send", "--print-reply=literal", "--reply-timeout=2000",
                                 "--bus=" + self.session_address, "--dest=org.a11y.Bus", "/org/a11y/bus",
                                 "org.a11y.Bus.GetAddress"], capture_output=True, text=True, timeout=10)
        return answer.stdout.strip() if answer.returncode == 0 else None

    def close(self):
        stop(self.launcher)
        stop(self.session)
        shutil.rmtree(self.folder, ignore_errors=True)


def showing(accessible):
    return accessible.getState().contains(pyatspi.STATE_SHOWING)


def children(accessible):
    return [child for child in accessible if child is not None]


def descendants(accessible, depth=12):
    """The accessible and everything below it, depth first; what goes away meanwhile (the
    rows of a list being scanned again) is left out."""
    found = [accessible]
    if depth > 0:
        try:
            below = children(accessible)
        except GLib.Error:
            below = []
        for child in below:
            found += descendants(child, depth - 1)
    return found


def find(accessible, role, name=None):
    def matches(candidate):
        try:
            return candidate.getRole() == role and (name is None or candidate.name == name)
        except GLib.Error:
            return False

    return [a for a in descendants(accessible) if matches(a)]


def text_of(accessible):
    text = accessible.queryText()
    return text.getText(0, text.characterCount)


def compact(address_field):
    return address_field.replace(" ", "")


class Scoutor:
    """One scoutor process, seen through its accessible application on the private bus."""

    def __init__(self, display, buses, *arguments, program=SCOUTOR):
        self.display = display
        self.frame = None
        self.tree = None
        env = dict(buses.env(display), QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        self.process = start([program, *arguments], env=env)
        self.app = wait_for("the program on the accessibility bus", self.find_app, 30)

    def find_app(self):
        if self.process.poll() is not None:
            raise AssertionError(f"the program ended with {self.process.returncode}")
        desktop = pyatspi.Registry.getDesktop(0)
        for app in children(desktop):
            try:
                if app.get_process_id() == self.process.pid:
                    # Names and states are read afresh each time, not from libatspi's cache,
                    # which only events would keep up to date.
                    app.set_cache_mask(Atspi.Cache.NONE)
                    return app
            except Exception:  # an application leaving the bus meanwhile
                continue
        return None

    def windows(self):
        return children(self.app)

    def window(self, name, seconds=10, role=None):
        """The top-level window of this name (and role) once it shows; dialogs are made once
        and kept hidden, so showing is what tells that one is open."""
        return wait_for(f"the window {name!r}", lambda: next(
            (w for w in self.windows()
             if w.name == name and (role is None or w.getRole() == role) and showing(w)), None), seconds)

    def hidden(self, name, seconds=10, role=None):
        wait_for(f"the window {name!r} to close", lambda: not any(
            w.name == name and (role is None or w.getRole() == role) and showing(w) for w in self.windows()),
                 seconds)

    def main_window(self):
        if self.frame is None:
            self.frame = wait_for("the main window", lambda: next(
                (w for w in self.windows() if w.getRole() == pyatspi.ROLE_FRAME), None), 10)
        return self.frame

    def device_list(self):
        if self.tree is None:
            self.tree = find(self.main_window(), pyatspi.ROLE_TREE, "Devices")[0]
        return self.tree

    def button(self, window, name):
        return wait_for(f"the button {name!r}", lambda: next(
            (b for b in find(window, pyatspi.ROLE_PUSH_BUTTON, name) if showing(b)), None), 10)

    def field(self, window, name):
        return next(f for f in descendants(window) if f.getRoleName() in ("text", "entry") and f.name == name)

    def tool_button(self, name):
        bar = find(self.main_window(), pyatspi.ROLE_TOOL_BAR, "Tool bar")[0]
        return next(b for b in children(bar) if b.getRole() == pyatspi.ROLE_PUSH_BUTTON and b.name == name)

    def rows(self):
        """The list's rows as lists of cell texts, and the description of the name cell last
        (where the not-reachable sign is told)."""
        table = self.device_list().queryTable()
        rows = []
        try:
            for row in range(table.nRows):
                cells = [table.getAccessibleAt(row, column) for column in range(table.nColumns)]
                if None in cells:  # the list changed while it was read
                    return None
                rows.append([cell.name for cell in cells] + [cells[0].description])
        except GLib.Error:  # likewise
            return None
        return rows

    def rows_when(self, what, condition, seconds=60):
        seen = [None]

        def matching():
            rows = self.rows()
            if rows is not None:
                seen[0] = rows
            return rows if rows is not None and condition(rows) else None
        try:
            return wait_for(what, matching, seconds)
        except AssertionError as timeout:
            raise AssertionError(f"{timeout}; the list last showed {seen[0]}") from None

    def press(self, control):
        """Clicks a control, which must have a name that a screen reader can say."""
        if not control.name.strip():
            raise AssertionError(f"a {control.getRoleName()} without an accessible name "
                                 f"in {control.parent.name!r}")
        if not control.getState().contains(pyatspi.STATE_ENABLED):
            raise AssertionError(f"{control.name!r} is disabled")
        self.click(control)

    def select(self, device_id):
        """Clicks the device's row, found by its ID, and waits until it is the selected one."""
        def name_cell():
            table = self.device_list().queryTable()
            for row in range(table.nRows):
                id_cell = table.getAccessibleAt(row, ID_COLUMN)
                if id_cell is not None and id_cell.name == device_id:
                    return table.getAccessibleAt(row, 0)
            return None

        def selected():
            cell = name_cell()
            return cell is not None and cell.getState().contains(pyatspi.STATE_SELECTED)

        self.click(wait_for(f"the row of {device_id}", name_cell, 10))
        wait_for(f"the row of {device_id} selected", selected, 10)

    def type_address(self, window_title, field, address):
        """Puts an address into an address field from the keyboard: everything selected and
        blanked, then the address typed as it reads."""
        self.display.focus(window_title)
        self.press(field)
        self.display.keys("ctrl+a", "BackSpace", *["period" if c == "." else c for c in address])

    def type_text(self, window_title, field, text):
        self.display.focus(window_title)
        self.press(field)
        self.display.type(text)

    def click(self, accessible):
        """A left click in the middle of the control, as the user gives it."""
        box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        if box.width <= 0 or box.height <= 0:
            raise AssertionError(f"{accessible.name!r} has no place on the screen")
        self.display.click(box.x + box.width // 2, box.y + box.height // 2)

    def close(self):
        stop(self.process)


def names(rows):
    return [row[0] for row in rows]


# The controls a user works with; each must tell a screen reader its name.
CONTROL_ROLES = {"push button", "radio button", "text", "entry", "menu item", "check box"}


class DesktopProgram(unittest.TestCase):
    """The cases share one display, one pair of buses and the test bed, and run in name order:
    the scan and the second copy come before Configure and Auto IP, which move Cam-2 and Far-3
    to other addresses."""

    @classmethod
    def setUpClass(cls):
        quiet_binding_warnings()
        cls.display = Display()
        try:
            cls.buses = Buses(cls.display)
        except BaseException:
            cls.display.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.buses.close()
        cls.display.close()
        end_orphans()

    def start(self, *arguments, **options):
        program = Scoutor(self.display, self.buses, *arguments, **options)
        self.addCleanup(program.close)
        return program

    def scanned(self, program, count=DEVICE_COUNT):
        # The kernel's neighbour table is shared by every namespace: while other programs fill
        # it, the checks wait for room, so a check may take longer than its 5 s.
        # A row being inserted may show its name before its other cells.
        return program.rows_when(f"{count} rows",
                                 lambda rows: len(rows) == count and all(r[3] for r in rows), 60)

    def assert_named(self, accessible):
        self.assertTrue(accessible.name.strip(),
                        f"a {accessible.getRoleName()} without an accessible name in {accessible.parent.name!r}")

    def assert_controls_named(self, window):
        """Every control of the window that shows has an accessible name."""
        for control in descendants(window):
            if control.getRoleName() in CONTROL_ROLES and showing(control):
                self.assert_named(control)

    def message_box(self, program, title, seconds=10):
        box = program.window(title, seconds, pyatspi.ROLE_ALERT)
        self.assert_controls_named(box)
        return box

    def test_1_a_scan_lists_the_devices_sorted_with_the_sign_only_on_the_one_without_ping(self):
        program = self.start()
        rows = self.scanned(program)
        self.assertEqual(names(rows), ["AP-1", "Cam-2", "Far-3", "Mute-4"])
        self.assertEqual([row[5] for row in rows], ["", "", NOT_REACHABLE, ""])
        self.assertEqual([row[2] for row in rows], ["10.0.0.7", "10.0.0.8", "192.168.77.7", "10.0.0.10"])
        self.assertEqual([row[3] for row in rows], [AP1, CAM2, FAR3, MUTE4])
        self.assertEqual({row[4] for row in rows}, {"10.0.0.1"})
        main = program.main_window()
        legend = find(main, pyatspi.ROLE_LABEL, "= device is not reachable. Try using Auto IP.")[0]
        self.assertTrue(showing(legend))
        self.assertTrue(showing(find(main, pyatspi.ROLE_IMAGE, "Not reachable sign")[0]))
        self.assert_controls_named(main)

        # Scan again from the File menu.
        file_menu = find(main, pyatspi.ROLE_MENU_ITEM, "File")[0]
        program.press(file_menu)
        scan = wait_for("the File menu", lambda: next(
            (item for item in find(file_menu, pyatspi.ROLE_MENU_ITEM, "Scan") if showing(item)), None), 10)
        self.assert_controls_named(file_menu)
        program.press(scan)
        progress = find(main, pyatspi.ROLE_PROGRESS_BAR, "Scan progress")[0]
        wait_for("the scan's progress", lambda: showing(progress), 10)
        rows = self.scanned(program)
        self.assertEqual(names(rows), ["AP-1", "Cam-2", "Far-3", "Mute-4"])

    def test_2_a_second_copy_shows_the_engine_lock_box_and_ends_with_1(self):
        self.scanned(self.start())
        second = self.start()
        box = self.message_box(second, "HalvexVEP Error", 20)
        self.assertTrue(box.description, "the box says nothing")
        second.press(second.button(box, "OK"))
        self.assertEqual(second.process.wait(20), 1)

    def test_3_configure_reads_the_settings_and_apply_changes_them(self):
        program = self.start()
        self.scanned(program)
        program.select(CAM2)
        program.press(program.tool_button("Configure"))
        dialog = program.window("IP Address Properties")
        address = program.field(dialog, "IP address:")
        # The address fields show blanks where a number has fewer than three digits.
        wait_for("the settings in the dialog", lambda: compact(text_of(address)) == "10.0.0.8", 10)
        program.hidden("Communicating")
        self.assertEqual(compact(text_of(program.field(dialog, "Subnet mask:"))), "255.255.255.0")
        self.assertEqual(compact(text_of(program.field(dialog, "Default gateway:"))), "10.0.0.1")
        fixed = find(dialog, pyatspi.ROLE_RADIO_BUTTON, "Use the following IP address")[0]
        self.assertTrue(fixed.getState().contains(pyatspi.STATE_CHECKED))
        self.assert_controls_named(dialog)

        program.type_address("IP Address Properties", address, "10.0.0.9")
        wait_for("the typed address", lambda: compact(text_of(address)) == "10.0.0.9", 10)
        program.press(program.button(dialog, "Apply"))
        program.hidden("IP Address Properties")
        rows = program.rows_when("Cam-2 at its new address",
                                 lambda rows: all(r[3] for r in rows) and any(
                                     r[0] == "Cam-2" and r[2] == "10.0.0.9" for r in rows))
        self.assertEqual(names(rows), ["AP-1", "Cam-2", "Far-3", "Mute-4"])
        if LOGS:
            with open(os.path.join(LOGS, "vepsim-dev1.log"), encoding="utf-8") as log:
                self.assertIn("10.0.0.9", log.read())

    def test_4_a_device_that_does_not_answer_leaves_the_dialog_after_communication_failed(self):
        program = self.start()
        self.scanned(program)
        program.select(MUTE4)
        program.press(program.tool_button("Configure"))
        dialog = program.window("IP Address Properties")
        wait = program.window("Communicating")
        self.assert_controls_named(wait)
        box = self.message_box(program, "Failure", 10)
        self.assertEqual(box.description, "Communication Failed")
        program.press(program.button(box, "OK"))
        program.hidden("Communicating")
        # Without a reply the dialog takes input with what it showed before: blanks here.
        self.assertTrue(showing(dialog))
        self.assertEqual(compact(text_of(program.field(dialog, "IP address:"))), "...")
        program.press(program.button(dialog, "Cancel"))
        program.hidden("IP Address Properties")
        self.assertEqual(len(program.rows()), DEVICE_COUNT)

    def test_5_auto_ip_gives_the_unreachable_device_a_free_address_and_the_rescan_shows_it_reachable(self):
        program = self.start()
        self.scanned(program)
        auto_ip = program.tool_button("Auto IP")
        program.select(AP1)
        self.assertFalse(auto_ip.getState().contains(pyatspi.STATE_ENABLED), "Auto IP for a reachable device")
        program.select(FAR3)
        program.press(auto_ip)
        # A row being inserted or refreshed may show some cells before the others: only a
        # complete row in the PC's subnet without the sign is the rescan's answer.
        rows = program.rows_when("Far-3 reachable in the PC's subnet", lambda rows: any(
            r[0] == "Far-3" and r[3] and r[2].startswith("10.0.0.") and r[5] == "" for r in rows), 40)
        far = next(r for r in rows if r[0] == "Far-3")
        self.assertNotIn(far[2], {"10.0.0.1", "10.0.0.5", "10.0.0.7", "10.0.0.8", "10.0.0.9", "10.0.0.10"})
        self.assertFalse(showing(find(program.main_window(), pyatspi.ROLE_IMAGE, "Not reachable sign")[0]))

    def test_6_an_upgrade_uploads_the_image_to_tftpd_in_the_devices_namespace(self):
        root = temporary_folder("scoutor-e2e-tftpd-")
        self.addCleanup(shutil.rmtree, root, True)
        served = os.path.join(root, "served")
        os.mkdir(served)
        os.chmod(served, 0o777)  # tftpd-hpa writes as "nobody"
        # Devices take their image under the name "/".
        with open(os.path.join(root, "map"), "w", encoding="utf-8") as rules:
            rules.write("r ^/$ firmware.bin\n")
        image = os.path.join(root, "image.bin")
        with open(image, "wb") as out:
            out.write(bytes(range(256)) * 40 + b"end")
        device_namespace = os.environ["TB_HOST"].replace("-host", "-dev1")
        tftpd = start(["ip", "netns", "exec", device_namespace, "/usr/sbin/in.tftpd", "--foreground",
                       "--address", "10.0.0.7:69", "--create", "--secure", "--map-file",
                       os.path.join(root, "map"), served])
        self.addCleanup(stop, tftpd)
        wait_for("tftpd-hpa on port 69", lambda: subprocess.run(
            ["ip", "netns", "exec", device_namespace, "ss", "-Hlun", "sport = :69"],
            capture_output=True, text=True, timeout=10).stdout.strip(), 10)

        program = self.start()
        self.scanned(program)
        program.select(AP1)
        program.press(program.tool_button("Upgrade"))
        dialog = program.window("Flash Upgrade")
        self.assertEqual(compact(text_of(program.field(dialog, "IP Address"))), "10.0.0.7")
        self.assert_controls_named(dialog)
        file_name = program.field(dialog, "Upgrade Filename")
        program.type_text("Flash Upgrade", file_name, image)
        wait_for("the typed file name", lambda: text_of(file_name) == image, 10)
        program.press(program.button(dialog, "Upgrade"))
        box = self.message_box(program, "scoutor", 60)
        self.assertEqual(box.description, "Upgrade succeeded")
        program.press(program.button(box, "OK"))
        program.hidden("Flash Upgrade")
        with open(os.path.join(served, "firmware.bin"), "rb") as arrived, open(image, "rb") as sent:
            self.assertEqual(arrived.read(), sent.read())

    def test_7_a_renamed_executable_renames_the_window_and_d_shows_the_log(self):
        folder = temporary_folder("scoutor-e2e-name-")
        self.addCleanup(shutil.rmtree, folder, True)
        renamed = os.path.join(folder, "Finder.bin")
        shutil.copy2(SCOUTOR, renamed)
        program = self.start("-d", program=renamed)
        program.window("Finder", 20)
        program.window("LogForm", 20)

    def test_8_other_spellings_of_d_leave_the_log_hidden(self):
        program = self.start("-D", "--d")
        self.scanned(program)
        self.assertFalse(any(w.name == "LogForm" and showing(w) for w in program.windows()))


if __name__ == "__main__":
    try:
        unittest.main(verbosity=2)
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        sys.exit(143)
