#!/usr/bin/env python3
"""The desktop program end to end: the real scoutor process on a private Xvfb, inside the host
namespace of scripts/testbed.sh (AP-1 and Cam-2 beside the PC, Far-3 in a foreign subnet), driven
through its automation socket (ui/Automation.h) and, for what comes before its windows, through
X with xdotool.

Run as: scripts/testbed.sh run --vepsim-args -v -- tests/e2e/scoutor_e2e.py BUILD-DIR
Every wait is bounded; the programs it starts end with it."""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

BUILD = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "build")
SCOUTOR = os.path.join(BUILD, "ui", "scoutor")
LOGS = os.environ.get("TB_DIR", "")


def wait_for(what, condition, seconds):
    """Polls `condition` until it gives something true, for at most `seconds`."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.1)


class Display:
    """A private Xvfb reached through its socket under /tmp/.X11-unix."""

    def __init__(self):
        number = next(n for n in range(200, 300)
                      if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"))
        self.name = f":{number}"
        self.process = subprocess.Popen(["Xvfb", self.name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for("Xvfb", lambda: os.path.exists(f"/tmp/.X11-unix/X{number}"), 10)

    def env(self):
        env = dict(os.environ, DISPLAY=self.name, QT_QPA_PLATFORM="xcb")
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return env

    def windows(self, title):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title], env=self.env(),
                               capture_output=True, text=True, timeout=10)
        return found.stdout.split()

    def key(self, window, key):
        # No window manager here: the window is given the focus first.
        subprocess.run(["xdotool", "windowfocus", "--sync", window, "key", key], env=self.env(), timeout=10,
                       check=True)

    def close(self):
        self.process.terminate()
        self.process.wait(10)


class Scoutor:
    """One scoutor process with its automation socket."""

    def __init__(self, display, *arguments, program=SCOUTOR):
        self.folder = tempfile.mkdtemp(prefix="scoutor-e2e-")
        self.socket_path = os.path.join(self.folder, "automation")
        env = dict(display.env(), SCOUTOR_AUTOMATION=self.socket_path)
        self.process = subprocess.Popen([program, *arguments], env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        wait_for("the automation socket", lambda: os.path.exists(self.socket_path), 20)
        self.connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.connection.settimeout(20)
        self.connection.connect(self.socket_path)
        self.reader = self.connection.makefile("r", encoding="utf-8")

    def ask(self, command):
        self.connection.sendall((command + "\n").encode())
        answer = self.reader.readline().rstrip("\n")
        if command == "rows":
            lines = []
            while (line := self.reader.readline().rstrip("\n")) != ".":
                lines.append(line.split("\t"))
            return lines
        if not answer.startswith("ok"):
            raise AssertionError(f"{command}: {answer}")
        return answer[3:]

    def rows_when(self, what, condition, seconds=60):
        return wait_for(what, lambda: (lambda rows: rows if condition(rows) else None)(self.ask("rows")), seconds)

    def modal(self):
        return self.ask("modal").split("\t")

    def modal_when(self, kind, seconds=10):
        return wait_for(kind, lambda: (lambda m: m if m[0] == kind else None)(self.modal()), seconds)

    def close(self):
        self.connection.close()
        self.process.terminate()
        self.process.wait(10)
        shutil.rmtree(self.folder, ignore_errors=True)


def compact(address_field):
    return address_field.replace(" ", "")


def names(rows):
    return [row[0] for row in rows]


class DesktopProgram(unittest.TestCase):
    """The cases share one test bed and run in name order: the scan and the second copy come
    before Auto IP and Configure, which move Far-3 and Cam-2 to other addresses."""

    @classmethod
    def setUpClass(cls):
        cls.display = Display()

    @classmethod
    def tearDownClass(cls):
        cls.display.close()

    def start(self, *arguments, **options):
        program = Scoutor(self.display, *arguments, **options)
        self.addCleanup(program.close)
        return program

    def scanned(self, program, count=3):
        # The kernel's neighbour table is shared by every namespace: while other programs fill
        # it, the checks wait for room, so a check may take longer than its 5 s.
        return program.rows_when(f"{count} rows", lambda rows: len(rows) == count, 60)

    def test_a_scan_lists_the_devices_sorted_with_the_sign_only_on_the_one_without_ping(self):
        rows = self.scanned(self.start())
        self.assertEqual(names(rows), ["AP-1", "Cam-2", "Far-3"])
        self.assertEqual([row[5] for row in rows], ["-", "-", "sign"])
        self.assertEqual([row[2] for row in rows], ["10.0.0.7", "10.0.0.8", "192.168.77.7"])
        self.assertEqual({row[4] for row in rows}, {"10.0.0.1"})

    def test_configure_reads_the_settings_and_apply_changes_them(self):
        program = self.start()
        self.scanned(program)
        program.ask("select 00:0A:1B:2C:3D:4F")
        program.ask("trigger SetIPConfig")
        # The address fields show blanks where a number has fewer than three digits.
        def settings_shown():
            modal = program.modal()
            return modal if modal[0] == "scoutor::TIPConfigForm" and compact(modal[3]) == "10.0.0.8" else None

        dialog = wait_for("the settings in the dialog", settings_shown, 10)
        self.assertEqual([compact(field) for field in dialog[4:6]], ["255.255.255.0", "10.0.0.1"])
        self.assertIn("checked:Use the following IP address", dialog)
        program.ask("edit 0 10.0.0.9")
        program.ask("click Apply")
        rows = program.rows_when("Cam-2 at its new address",
                                 lambda rows: any(r[0] == "Cam-2" and r[2] == "10.0.0.9" for r in rows))
        self.assertEqual(names(rows), ["AP-1", "Cam-2", "Far-3"])
        if LOGS:
            with open(os.path.join(LOGS, "vepsim-dev1.log"), encoding="utf-8") as log:
                self.assertIn("10.0.0.9", log.read())

    def test_auto_ip_gives_the_unreachable_device_a_free_address_and_the_rescan_shows_it_reachable(self):
        program = self.start()
        rows = self.scanned(program)
        program.ask("select 00:0A:1B:2C:3D:50")
        self.assertEqual(program.ask("enabled AutoSetIP"), "1")
        program.ask("trigger AutoSetIP")
        rows = program.rows_when("Far-3 reachable in the PC's subnet",
                                 lambda rows: any(r[0] == "Far-3" and r[5] == "-" for r in rows), 40)
        far = next(r for r in rows if r[0] == "Far-3")
        self.assertTrue(far[2].startswith("10.0.0."), far)
        self.assertNotIn(far[2], {"10.0.0.1", "10.0.0.5", "10.0.0.7", "10.0.0.8", "10.0.0.9"})

    def test_an_upgrade_uploads_the_image_to_tftpd_in_the_devices_namespace(self):
        root = tempfile.mkdtemp(prefix="scoutor-e2e-tftpd-")
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
        tftpd = subprocess.Popen(["ip", "netns", "exec", device_namespace, "/usr/sbin/in.tftpd", "--foreground",
                                  "--address", "10.0.0.7:69", "--create", "--secure", "--map-file",
                                  os.path.join(root, "map"), served],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (tftpd.terminate(), tftpd.wait(10)))
        wait_for("tftpd-hpa on port 69", lambda: subprocess.run(
            ["ip", "netns", "exec", device_namespace, "ss", "-Hlun", "sport = :69"],
            capture_output=True, text=True, timeout=10).stdout.strip(), 10)

        program = self.start()
        self.scanned(program)
        program.ask("select 00:0A:1B:2C:3D:4E")
        program.ask("trigger DoUpgrade")
        dialog = program.modal_when("scoutor::TUpgradeForm")
        self.assertEqual(compact(dialog[4]), "10.0.0.7")
        program.ask("edit 0 " + image)
        program.ask("click Upgrade")
        result = program.modal_when("QMessageBox", 60)
        self.assertEqual(result[2], "Upgrade succeeded")
        program.ask("click OK")
        with open(os.path.join(served, "firmware.bin"), "rb") as arrived, open(image, "rb") as sent:
            self.assertEqual(arrived.read(), sent.read())

    def test_a_second_copy_shows_the_engine_lock_box_and_ends_with_1(self):
        self.scanned(self.start())
        second = subprocess.Popen([SCOUTOR], env=self.display.env(), stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            box = wait_for("the engine lock box", lambda: self.display.windows("^HalvexVEP Error$"), 20)
            self.display.key(box[0], "Return")
            self.assertEqual(second.wait(20), 1)
        finally:
            if second.poll() is None:
                second.kill()
                second.wait()

    def test_a_renamed_executable_renames_the_window_and_d_shows_the_log(self):
        folder = tempfile.mkdtemp(prefix="scoutor-e2e-name-")
        self.addCleanup(shutil.rmtree, folder, True)
        renamed = os.path.join(folder, "Finder.bin")
        shutil.copy2(SCOUTOR, renamed)
        self.start("-d", program=renamed)
        wait_for("the window named Finder", lambda: self.display.windows("^Finder$"), 20)
        wait_for("the log window", lambda: self.display.windows("^LogForm$"), 20)

    def test_other_spellings_of_d_leave_the_log_hidden(self):
        program = self.start("-D", "--d")
        self.scanned(program)
        self.assertEqual(self.display.windows("^LogForm$"), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
