#!/usr/bin/env python3
"""Runs a command on a pseudo-terminal and answers it as a user would.

usage: pty_drive.py TRANSCRIPT ROWS COMMAND [ARG...] <SCRIPT

SCRIPT holds one step a line:
  expect TEXT   wait (10 s at most) until TEXT shows after the last match
  send TEXT     type TEXT; \\n, \\x03 (Ctrl-C), \\x04 (Ctrl-D) and the like
                are escapes, other characters go as UTF-8
  resize ROWS COLUMNS
                give the terminal that size (the kernel tells the command
                with SIGWINCH)
Then it waits for the command to end and prints "STATUS MS": the exit
status (128 + N for signal N) and the milliseconds from the last send to
the end.  TRANSCRIPT gets what the terminal shows: text written after a
carriage return drawn over the line's text before it (an erase right after
it, ESC [ J, blanks the line).  TRANSCRIPT.screens gets the screen as a
terminal emulator draws it, looked at before every send and resize and at
the end, when a user reads it: for each, a line with its width in columns,
its rows, and a line holding a form feed.  A step that times out kills the
command and ends the driver with status 2.
"""
import codecs
import fcntl
import os
import pty
import pyte
import select
import signal
import struct
import sys
import termios
import time

STEP_TIMEOUT = 10.0
END_TIMEOUT = 30.0
ERASE = b"\033[J"


class Screens:
    """The output drawn on an emulated screen of the terminal's size."""

    def __init__(self, rows, columns):
        self.screen = pyte.Screen(columns, rows)
        self.stream = pyte.ByteStream(self.screen)
        self.drawn = 0
        self.looks = []

    def look(self, output):
        self.stream.feed(bytes(output[self.drawn:]))
        self.drawn = len(output)
        rows = [row.rstrip() for row in self.screen.display]
        self.looks.append("%d\n%s\n\f\n" % (self.screen.columns, "\n".join(rows)))

    def resize(self, fd, output, rows, columns):
        self.look(output)
        fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
        self.screen.resize(rows, columns)


def read_some(fd, output, timeout):
    """Adds what the command writes within timeout: True when something
    came, False when nothing did, None once nobody holds the terminal."""
    if not select.select([fd], [], [], timeout)[0]:
        return False
    try:
        data = os.read(fd, 65536)
    except OSError:  # EIO
        return None
    output.extend(data)
    return True if data else None


def expect(fd, output, start, text):
    deadline = time.monotonic() + STEP_TIMEOUT
    wanted = text.encode()
    while output.find(wanted, start) < 0:
        left = deadline - time.monotonic()
        if left <= 0 or read_some(fd, output, left) is None:
            return -1
    return output.find(wanted, start) + len(wanted)


def shown(output):
    lines = []
    for raw in output.split(b"\n"):
        line = b""
        for part in raw.split(b"\r"):
            if part.startswith(ERASE):
                line, part = b"", part[len(ERASE):]
            line = part + line[len(part):]
        lines.append(line.rstrip(b" "))
    return b"\n".join(lines)


def main():
    transcript, rows, command = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    steps = [line.rstrip("\n").split(" ", 1) for line in sys.stdin if line.strip()]
    pid, fd = pty.fork()
    if pid == 0:
        fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", rows, 80, 0, 0))
        os.execvp(command[0], command)
    output = bytearray()
    screens = Screens(rows, 80)
    position = 0
    sent_at = time.monotonic()
    status = 0
    for verb, argument in ((s[0], s[1] if len(s) > 1 else "") for s in steps):
        if verb == "expect":
            position = expect(fd, output, position, argument)
            if position < 0:
                sys.stderr.write("timed out waiting for %r\n" % argument)
                os.kill(pid, signal.SIGKILL)
                status = 2
                break
        elif verb == "send":
            screens.look(output)
            os.write(fd, codecs.escape_decode(argument.encode())[0])
            sent_at = time.monotonic()
        elif verb == "resize":
            screens.resize(fd, output, *map(int, argument.split()))
    ended = None
    deadline = time.monotonic() + (0 if status else END_TIMEOUT)
    while ended is None and time.monotonic() < deadline:
        if read_some(fd, output, 0.01) is None:
            time.sleep(0.01)
        done, code = os.waitpid(pid, os.WNOHANG)
        if done == pid:
            ended = code
    elapsed = int((time.monotonic() - sent_at) * 1000)
    if ended is None:
        os.kill(pid, signal.SIGKILL)
        ended = os.waitpid(pid, 0)[1]
    while read_some(fd, output, 0):  # what was written before the end
        pass
    with open(transcript, "wb") as out:
        out.write(shown(output))
    screens.look(output)
    with open(transcript + ".screens", "w") as out:
        out.writelines(screens.looks)
    if status:
        return status
    code = os.waitstatus_to_exitcode(ended)
    print(code if code >= 0 else 128 - code, elapsed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
