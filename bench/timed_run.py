#!/usr/bin/env python3
"""Runs a command as this script's own child and prints "SECONDS PEAK_KIB":
its wall-clock time and its peak resident memory, both taken from that one
process (found by its process id, never by a name), without polling it.

    timed_run.py [--cwd DIR] [--stdout FILE] -- COMMAND ARG...
"""
import argparse
import os
import subprocess
import sys
import time


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--cwd")
    parser.add_argument("--stdout")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")
    out = open(args.stdout, "wb") if args.stdout else subprocess.DEVNULL
    start = time.perf_counter()
    child = subprocess.Popen(command, cwd=args.cwd, stdout=out, stderr=subprocess.DEVNULL)
    # wait4 gives the resource use of exactly this child; "wine PROGRAM"
    # becomes the program by exec, so its process id stays the child's.
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    print(f"{seconds:.6f} {usage.ru_maxrss}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
