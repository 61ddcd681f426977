#!/usr/bin/env python3
"""kestrel-unzip at a real terminal (a pseudo-terminal is its stdout and stderr, and
its controlling terminal, so that Ctrl-C is typed, not signalled): an interrupt
during an extraction and at each prompt, and a write that fails, end the run with
unzip's status and one line saying why, never an abort, and leave no half-written
file; a part of a split set that is not found is asked for. On a terminal the progress line is drawn, and each of these ends clears it.

Usage: terminal_test.py KESTREL_UNZIP"""

import fcntl
import os
import pty
import resource
import select
import subprocess
import sys
import tempfile
import termios
import time
import zipfile

EXE = os.path.abspath(sys.argv[1])
CTRL_C = b"\x03"
failures = []
passed = 0


def start(args, cwd, stdin_pipe=False, file_size_limit=None):
    """The program with a new pseudo-terminal as its controlling terminal; its
    stdin is the terminal too, or a pipe the test feeds."""
    master, slave = pty.openpty()

    def child_setup():
        os.setsid()
        fcntl.ioctl(1, termios.TIOCSCTTY, 0)
        if file_size_limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))

    process = subprocess.Popen([EXE] + args, cwd=cwd, stdin=subprocess.PIPE if stdin_pipe else slave, stdout=slave,
                               stderr=slave, preexec_fn=child_setup, close_fds=True)
    return process, master, slave


def read_until(master, screen, wanted, seconds=20.0):
    """Reads the terminal into screen (a bytearray) until it holds wanted."""
    deadline = time.monotonic() + seconds
    while wanted not in screen and time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.05)
        if ready:
            try:
                screen += os.read(master, 65536)
            except OSError:  # the program has gone, and its side of the terminal with it
                break
    return wanted in screen


def finish(process, master, slave, screen):
    """Waits for the end and reads what is left on the terminal; the status."""
    try:
        status = process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        process.kill()
        status = process.wait()
    os.close(slave)
    read_until(master, screen, b"\0never\0", seconds=0.3)
    os.close(master)
    return status


def visual_lines(screen):
    """The lines as the terminal shows them: a carriage return goes back to the
    start of the line, and what follows writes over what stood there."""
    lines = []
    for raw in screen.decode("utf-8", "replace").split("\n"):
        line = []
        column = 0
        for c in raw:
            if c == "\r":
                column = 0
                continue
            if column < len(line):
                line[column] = c
            else:
                line.append(c)
            column += 1
        lines.append("".join(line).rstrip())
    return lines


def check_not_glued(case, screen):
    """No line of the terminal shows the progress line together with a question,
    a message or an entry's line."""
    for line in visual_lines(screen):
        if " MB  " in line and any(text in line for text in ("replace ", "kestrel-unzip:", "inflating:", "extracting:")):
            failures.append(f"{case}: the progress line is glued to another: {line!r}")


def check(case, status, screen, expected_status, expected_line, folder, absent=()):
    global passed
    text = screen.decode("utf-8", "replace")
    problems = []
    if status != expected_status:
        problems.append(f"status {status}, expected {expected_status}")
    if expected_line not in text:
        problems.append(f"no line {expected_line!r}")
    for crash in ("terminate called", "Aborted", "Segmentation", "AddressSanitizer", "runtime error"):
        if crash in text:
            problems.append(f"{crash!r} on the terminal")
    for name in absent:
        if os.path.exists(os.path.join(folder, name)):
            problems.append(f"{name} was left")
    leftovers = [n for n in os.listdir(folder) if n.startswith(".")]
    if leftovers:
        problems.append(f"hidden files left: {leftovers}")
    if problems:
        failures.append(f"{case}: {'; '.join(problems)}\n--- terminal ---\n{text}\n---")
    else:
        passed += 1


def prompt_cases(work):
    """Ctrl-C at the overwrite prompt (with and without workers decoding ahead) and
    at the password prompt; the terminal's echo is back afterwards."""
    archive = os.path.join(work, "plain.zip")
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(12):
            z.writestr(f"f{i:02}.txt", os.urandom(200000))
    for threads in ("1", "3"):
        folder = tempfile.mkdtemp(dir=work)
        for name in ("f04.txt", "f05.txt"):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(b"kept")
        process, master, slave = start(["--threads", threads, archive], folder)
        screen = bytearray()
        # The first question answered after the second in which the progress line
        # shows: the next one starts at the start of its line, not after the line.
        if read_until(master, screen, b"[r]ename: "):
            time.sleep(1.2)
            os.write(master, b"y\r")
        second = b"replace f05.txt? [y]es, [n]o, [A]ll, [N]one, [r]ename: "
        if read_until(master, screen, second):
            if screen[screen.index(second) - 1:][:1] not in (b"\r", b"\n"):
                failures.append(f"--threads {threads}: the question follows the progress line")
            os.write(master, CTRL_C)
        status = finish(process, master, slave, screen)
        check(f"overwrite prompt, --threads {threads}", status, screen, 80, "interrupted", folder)
        check_not_glued(f"overwrite prompt, --threads {threads}", screen)
        with open(os.path.join(folder, "f05.txt"), "rb") as f:
            if f.read() != b"kept":
                failures.append(f"overwrite prompt, --threads {threads}: the existing file changed")

    # A new name is taken from the destination, not from the entry's folder, as
    # unzip takes it; the entry's line names the file made.
    nested = os.path.join(work, "nested.zip")
    with zipfile.ZipFile(nested, "w") as z:
        z.writestr("docs/a.txt", b"new")
    folder = tempfile.mkdtemp(dir=work)
    os.makedirs(os.path.join(folder, "out", "docs"))
    with open(os.path.join(folder, "out", "docs", "a.txt"), "wb") as f:
        f.write(b"old")
    process, master, slave = start([nested, "-d", "out"], folder)
    screen = bytearray()
    if read_until(master, screen, b"replace out/docs/a.txt? [y]es, [n]o, [A]ll, [N]one, [r]ename: "):
        os.write(master, b"r\r")
        if read_until(master, screen, b"new name: "):
            os.write(master, b"renamed.txt\r")
    status = finish(process, master, slave, screen)
    check("rename", status, screen, 0, "extracting: out/renamed.txt", folder)
    if not os.path.exists(os.path.join(folder, "out", "renamed.txt")):
        failures.append("rename: out/renamed.txt was not made")

    secret = os.path.join(work, "secret.zip")
    source = os.path.join(work, "secret.txt")
    with open(source, "wb") as f:
        f.write(b"not for everyone\n" * 1000)
    subprocess.run(["zip", "-q", "-j", "-P", "pass", secret, source], check=True)
    folder = tempfile.mkdtemp(dir=work)
    process, master, slave = start([secret], folder)
    screen = bytearray()
    if read_until(master, screen, b"password: "):
        os.write(master, CTRL_C)
    attributes = None
    try:
        process.wait(timeout=30)
        attributes = termios.tcgetattr(slave)
    except (subprocess.TimeoutExpired, termios.error):
        pass
    status = finish(process, master, slave, screen)
    check("password prompt", status, screen, 80, "interrupted", folder, absent=("secret.txt",))
    if attributes is not None and not attributes[3] & termios.ECHO:
        failures.append("password prompt: the terminal's echo stayed off")


def split_case(work):
    """A part of a split set that is not beside the last part is asked for, and the
    path answered is read."""
    folder = tempfile.mkdtemp(dir=work)
    made = {"a.bin": os.urandom(150000), "b.txt": b"a line of text\n" * 20000}
    for name, data in made.items():
        with open(os.path.join(work, name), "wb") as f:
            f.write(data)
    subprocess.run(["zip", "-q", "-s", "64k", os.path.join(folder, "set.zip"), *made], cwd=work, check=True)
    moved = os.path.join(tempfile.mkdtemp(dir=work), "part2")
    os.rename(os.path.join(folder, "set.z02"), moved)
    process, master, slave = start(["set.zip", "-d", "out"], folder)
    screen = bytearray()
    question = b"set.z02 is missing: insert disk 2, or give the path of part 2 (Enter: go on without it): "
    if read_until(master, screen, question):
        os.write(master, moved.encode() + b"\r")
    status = finish(process, master, slave, screen)
    check("a part asked for", status, screen, 0, "inflating: out/b.txt", folder)
    for name, data in made.items():
        path = os.path.join(folder, "out", name)
        if not os.path.exists(path) or open(path, "rb").read() != data:
            failures.append(f"a part asked for: out/{name} is not the file archived")
    # Enter goes on without the part: the rest comes out, the question is not asked again.
    process, master, slave = start(["set.zip", "-d", "without"], folder)
    screen = bytearray()
    if read_until(master, screen, question):
        os.write(master, b"\r")
    status = finish(process, master, slave, screen)
    check("a part left out", status, screen, 2, "its bytes lie in set.z02, which is missing", folder)
    if screen.count(question) != 1:
        failures.append("a part left out: asked %d times" % screen.count(question))


def streamed_cases(work):
    """An archive read from a pipe that arrives slowly, so that the progress line is
    drawn: Ctrl-C, and a write beyond the file size limit (EFBIG, as a full disk)."""
    archive = os.path.join(work, "big.zip")
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as z:
        z.writestr("small.txt", b"small\n")
        z.writestr("big.bin", os.urandom(6 << 20))
    with open(archive, "rb") as f:
        data = f.read()
    for case, limit, expected_status, expected_line in (("Ctrl-C during an extraction", None, 80, "interrupted"),
                                                       ("a write that fails", 2 << 20, 50, "File too large")):
        folder = tempfile.mkdtemp(dir=work)
        process, master, slave = start(["-"], folder, stdin_pipe=True, file_size_limit=limit)
        screen = bytearray()
        sent = 0
        try:
            # The first megabyte, then a pause past the second after which the
            # progress line shows, then the rest in small pieces.
            process.stdin.write(data[:1 << 20])
            process.stdin.flush()
            sent = 1 << 20
            time.sleep(1.2)
            interrupted = False
            while sent < len(data):
                process.stdin.write(data[sent:sent + (64 << 10)])
                process.stdin.flush()
                sent += 64 << 10
                read_until(master, screen, b"%", seconds=0.02)
                if limit is None and not interrupted and b"%" in screen and sent > (3 << 20):
                    os.write(master, CTRL_C)
                    interrupted = True
                    time.sleep(0.2)
            process.stdin.close()
        except BrokenPipeError:
            pass
        status = finish(process, master, slave, screen)
        if b"%" not in screen:
            failures.append(f"{case}: no progress line was drawn")
        check_not_glued(case, screen)
        check(case, status, screen, expected_status, expected_line, folder, absent=("big.bin",))


def main():
    with tempfile.TemporaryDirectory() as work:
        prompt_cases(work)
        split_case(work)
        streamed_cases(work)
    for failure in failures:
        print(failure)
    print(f"{passed} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
