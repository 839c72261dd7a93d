#!/usr/bin/env python3
"""The program a Windows user starts, as the user meets it, under Wine: the real
Revisor.exe, the stand-in word processor (StandInWord.exe, its own process,
reached through COM) and the real checking service (the Linux one, on loopback).

Revisor detects the stand-in's document window when it takes the focus, attaches
through AccessibleObjectFromWindow, checks the page (the login dialog is filled
in on the way), marks the findings; the caret on a mark opens the popup; a
suggestion is applied; the marks are cleared with every character's formatting
back; a save takes the marks out of the saved file; a killed stand-in leaves
Revisor running and ready for the next one.

    e2e_revisor.py BIN_DIR WINE_RUN QUILLET_SERVICE

Needs DISPLAY (an X server with a window manager: scripts/windows.sh starts
one) and xdotool; without them it is skipped (exit code 77). With
QUILLET_SCREENSHOTS set, screenshots of the tool window and the popup over the
stand-in are written there.
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77
TEXT = ("新系统以经完成测试，下月一日上线。\n"
        "每位同事因该在本月以前登录，核对自己的信息。\n"
        "软件的按装由信息技术部协助完成。\n")
ERRORS = ["以经", "因该", "按装"]
# The tool window's buttons, from the top left corner of its client area.
CHECK_BUTTON = (46, 62)
CLEAR_BUTTON = (213, 62)
# The apply mark of the popup's first suggestion, from the popup's top left corner.
SUGGESTION_ROW = (149, 38)


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    screenshot(os.environ.get("QUILLET_SCREENSHOTS", ""), "failure.png")
    sys.exit(1)


def wait_for(what, predicate, timeout=30.0, interval=0.3):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    fail("timed out waiting for " + what)


def xdotool(*args, timeout=15):
    try:
        result = subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return ""
    return result.stdout.strip()


def activate(window):
    # Without --sync: a window manager that is slow to answer must not stall the test.
    xdotool("windowactivate", window)
    time.sleep(0.7)


def find_window(*search):
    found = xdotool("search", *search)
    return found.split("\n")[-1] if found else ""


def click(window, at):
    activate(window)
    xdotool("mousemove", "--window", window, str(at[0]), str(at[1]), "click", "1")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class StandIn:
    """StandInWord.exe driven through its standard input."""

    def __init__(self, wine_run, bin_dir, text_file, env):
        self.process = subprocess.Popen([wine_run, os.path.join(bin_dir, "StandInWord.exe"), "--text", text_file],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, text=True,
                                        encoding="utf-8", bufsize=1)
        line = self.process.stdout.readline().strip()
        if line != "ready":
            fail("the stand-in did not start: " + line)

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().strip()

    def marks(self):
        return [tuple(int(n) for n in run.split("-")) for run in self.command("marks").split()[1:]]

    def kill(self):
        self.process.kill()
        self.process.wait(timeout=20)


class LogReader:
    """Collects a process's merged output on a thread of its own."""

    def __init__(self, process):
        import threading
        self.text = ""
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._read, args=(process,), daemon=True)
        self.thread.start()

    def _read(self, process):
        for line in process.stdout:
            with self.lock:
                self.text += line

    def search(self, pattern):
        with self.lock:
            return re.search(pattern, self.text)


def screenshot(folder, name):
    if folder:
        subprocess.run(["import", "-window", "root", os.path.join(folder, name)], timeout=30, check=False)


def main():
    if len(sys.argv) < 4:
        fail("usage: e2e_revisor.py BIN_DIR WINE_RUN QUILLET_SERVICE")
    bin_dir, wine_run, service = sys.argv[1:4]
    if not os.environ.get("DISPLAY") or not shutil.which("xdotool"):
        print("skipped: needs DISPLAY and xdotool (scripts/windows.sh provides both)")
        return SKIP
    if not os.access(service, os.X_OK):
        print("skipped: no Linux checking service at " + service)
        return SKIP
    shots = os.environ.get("QUILLET_SCREENSHOTS", "")
    work = tempfile.mkdtemp(prefix="quillet-e2e-")
    processes = []
    try:
        # --- The checking service, with one account ---------------------------------
        data = os.path.join(work, "service")
        os.makedirs(data)
        subprocess.run([service, "user", "add", "tester", "--data", data], input="secret+password\n", text=True,
                       check=True, capture_output=True)
        port = free_port()
        service_log = open(os.path.join(work, "service.log"), "w")
        processes.append(subprocess.Popen([service, "serve", "--listen", "127.0.0.1:%d" % port, "--data", data],
                                          stdout=service_log, stderr=subprocess.STDOUT))
        wait_for("the service", lambda: "listening on" in open(os.path.join(work, "service.log")).read())

        env = dict(os.environ)
        env["QUILLET_SERVICE_URL"] = "http://127.0.0.1:%d/" % port
        env["QT_LOGGING_RULES"] = "quillet.startup.debug=true;quillet.popup.debug=true"
        env["QT_FORCE_STDERR_LOGGING"] = "1"
        env.pop("QT_QPA_PLATFORM", None)
        text_file = os.path.join(work, "text.txt")
        with open(text_file, "w", encoding="utf-8") as f:
            f.write(TEXT)

        # --- Revisor and the stand-in ------------------------------------------------
        # Settings live in the Wine prefix's registry: start without any account.
        subprocess.run([wine_run, "reg", "delete", "HKCU\\Software\\Quillet", "/f"], env=env,
                       capture_output=True, timeout=60)
        revisor = subprocess.Popen([wine_run, os.path.join(bin_dir, "Revisor.exe")], stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, env=env, text=True, errors="replace")
        processes.append(revisor)
        LogReader(revisor)
        tool = wait_for("the tool window", lambda: find_window("--onlyvisible", "--name", "Quillet-"), 60)
        time.sleep(2)
        stand_in = StandIn(wine_run, bin_dir, text_file, env)
        processes.append(stand_in.process)

        # The user moves into the document: Revisor detects and attaches.
        activate(tool)
        if stand_in.command("focus") != "ok":
            fail("the stand-in did not take the focus")
        time.sleep(3)

        # The check button; the first check asks for the account.
        click(tool, CHECK_BUTTON)
        login = wait_for("the login dialog (the stand-in was not detected)",
                         lambda: find_window("--onlyvisible", "--name", "^(登录|Login|窗体)$"), 30)
        activate(login)
        xdotool("type", "--delay", "20", "tester")
        xdotool("key", "Tab", "type", "--delay", "20", "secret+password")
        xdotool("key", "Return")
        positions = [TEXT.index(e) for e in ERRORS]
        expected = [(p, p + 2) for p in positions]
        marks = wait_for("the marks", lambda: stand_in.marks() if stand_in.marks() == expected else None, 60)
        print("marked:", marks)
        time.sleep(1)
        screenshot(shots, "1-tool-window-and-marks.png")

        # The caret on the first mark opens the popup there.
        windows_before = set(xdotool("search", "--onlyvisible", "--class", "revisor").split())
        stand_in.command("caret %d %d" % (positions[0] + 1, positions[0] + 1))
        popup = wait_for("the popup", lambda: set(xdotool("search", "--onlyvisible", "--class", "revisor").split())
                         - windows_before, 20)
        print("popup window", popup, xdotool("getwindowgeometry", list(popup)[0]).replace("\n", "; "))
        time.sleep(1)
        screenshot(shots, "2-popup.png")

        # The first suggestion (the popup's first row) replaces the error.
        popup_id = list(popup)[0]
        xdotool("mousemove", "--window", popup_id, str(SUGGESTION_ROW[0]), str(SUGGESTION_ROW[1]), "click", "1")
        wait_for("the suggestion applied", lambda: stand_in.command("text").startswith("新系统已经完成测试"), 20)
        print("suggestion applied:", stand_in.command("text")[:12])

        # Clear: the marks go, every character's formatting is as it was.
        click(tool, CLEAR_BUTTON)
        wait_for("the marks cleared", lambda: stand_in.marks() == [], 20)
        if stand_in.command("changed") != "changed 0":
            fail("clearing left formatting changed: " + stand_in.command("changed"))

        # A save after a new check writes no marks into the file.
        click(tool, CHECK_BUTTON)
        wait_for("the marks again", lambda: len(stand_in.marks()) == 2, 60)
        stand_in.command("save")
        if stand_in.command("savedmarks") != "savedmarks 0":
            fail("the save wrote marks")
        if stand_in.command("changed") != "changed 0":
            fail("the save left formatting changed: " + stand_in.command("changed"))

        # A killed word processor leaves Revisor running and ready for the next.
        stand_in.kill()
        time.sleep(3)
        if revisor.poll() is not None:
            fail("Revisor ended when the word processor was killed")
        stand_in = StandIn(wine_run, bin_dir, text_file, env)
        processes.append(stand_in.process)
        activate(tool)
        stand_in.command("focus")
        time.sleep(3)
        click(tool, CHECK_BUTTON)
        wait_for("the marks in the next stand-in",
                 lambda: stand_in.marks() if stand_in.marks() == expected else None, 60)
        print("the next stand-in was attached and marked")
        stand_in.command("quit")
        return 0
    finally:
        for p in reversed(processes):
            if p.poll() is None:
                p.kill()
                try:
                    p.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    pass
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
