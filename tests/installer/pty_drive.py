#!/usr/bin/env python3
"""Runs a command on a pseudo-terminal and answers it as a user would.

usage: pty_drive.py TRANSCRIPT ROWS COMMAND [ARG...] <SCRIPT

SCRIPT holds one step a line:
  expect TEXT   wait (10 s at most) until TEXT shows after the last match
  send TEXT     type TEXT; \\n, \\x03 (Ctrl-C), \\x04 (Ctrl-D) and the like
                are escapes, other characters go as UTF-8
Then it waits for the command to end and prints "STATUS MS": the exit
status (128 + N for signal N) and the milliseconds from the last send to
the end.  TRANSCRIPT gets what the terminal shows: text written after a
carriage return drawn over the line's text before it.  A step that times
out kills the command and ends the driver with status 2.
"""
import codecs
import fcntl
import os
import pty
import select
import signal
import struct
import sys
import termios
import time

STEP_TIMEOUT = 10.0
END_TIMEOUT = 30.0


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
            os.write(fd, codecs.escape_decode(argument.encode())[0])
            sent_at = time.monotonic()
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
    if status:
        return status
    code = os.waitstatus_to_exitcode(ended)
    print(code if code >= 0 else 128 - code, elapsed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
