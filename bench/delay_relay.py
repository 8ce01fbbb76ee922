#!/usr/bin/env python3
"""A loopback TCP relay that puts a network in front of a server: it listens
on a free port of 127.0.0.1, connects each client it accepts to the target
port, and passes every chunk it reads on in the same direction a fixed
one-way delay after it arrived (a round trip costs twice the delay), in the
order it arrived, with TCP_NODELAY on both sides. A delay of 0 passes each
chunk on as soon as it is read, from the thread that read it.

    delay_relay.py --target-port PORT [--delay-ms ONE_WAY_MS] [--stats FILE]

Prints "listening 127.0.0.1:PORT" once it accepts. On SIGTERM or SIGINT it
writes to FILE (when given) one line

    connections C round_trips R up_chunks U down_chunks D up_bytes B down_bytes E late_us L

and ends. L is the mean time in microseconds by which a delayed chunk left
after it was due (below 0: before; 0 without a delay). R counts the times a server began to answer after its client had
spoken: the times a client waited for its server, each costing one network
round trip (a client that speaks again before the answer came, or that says
something needing no answer such as its goodbye, adds none).
"""
import argparse
import ctypes
import os
import queue
import signal
import socket
import sys
import threading
import time

_EOF = None
_CHUNK = 65536


def _fine_timers() -> None:
    """Lets this thread's sleeps end within microseconds of their deadline
    instead of Linux's default slack of 50 us (a part of a 250 us delay)."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(29, 1, 0, 0, 0)  # PR_SET_TIMERSLACK, 1 ns
    except (OSError, AttributeError):
        pass


class Stats:
    def __init__(self) -> None:
        self.lock = threading.Lock()
        self.connections = 0
        self.round_trips = 0
        self.chunks = {"up": 0, "down": 0}
        self.bytes = {"up": 0, "down": 0}
        self.late_sum, self.late_count = 0.0, 0  # seconds a delayed chunk left after it was due

    def line(self) -> str:
        with self.lock:
            late_us = round(self.late_sum / self.late_count * 1e6) if self.late_count else 0
            return (f"connections {self.connections} round_trips {self.round_trips} "
                    f"up_chunks {self.chunks['up']} down_chunks {self.chunks['down']} "
                    f"up_bytes {self.bytes['up']} down_bytes {self.bytes['down']} "
                    f"late_us {late_us}\n")


class Link:
    """One client and its server connection."""

    def __init__(self, client: socket.socket, server: socket.socket, delay: float, stats: Stats) -> None:
        self.client, self.server, self.delay, self.stats = client, server, delay, stats
        self.last = "down"  # who spoke last: the server has, before the client's first word
        self.lock = threading.Lock()
        self.open_directions = 2

    def start(self) -> None:
        for direction, src, dst in (("up", self.client, self.server), ("down", self.server, self.client)):
            if self.delay > 0:
                chunks: "queue.SimpleQueue" = queue.SimpleQueue()
                threading.Thread(target=self._read, args=(direction, src, chunks.put), daemon=True).start()
                threading.Thread(target=self._write_later, args=(chunks, dst), daemon=True).start()
            else:
                threading.Thread(target=self._pass_on, args=(direction, src, dst), daemon=True).start()

    def _note(self, direction: str, size: int) -> None:
        with self.stats.lock:
            self.stats.chunks[direction] += 1
            self.stats.bytes[direction] += size
            if direction == "down" and self.last == "up":
                self.stats.round_trips += 1
            self.last = direction

    def _read(self, direction: str, src: socket.socket, put) -> None:
        while True:
            try:
                data = src.recv(_CHUNK)
            except OSError:
                data = b""
            if not data:
                put((0.0, _EOF))
                return
            due = time.perf_counter() + self.delay
            self._note(direction, len(data))
            put((due, data))

    def _write_later(self, chunks: "queue.SimpleQueue", dst: socket.socket) -> None:
        _fine_timers()
        # A sleep ends some tens of microseconds after its deadline (timer and
        # thread wake-up): this thread learns by how much and wakes that much
        # earlier, so that its chunks leave when they are due.
        lateness = 0.0
        while True:
            due, data = chunks.get()
            if data is _EOF:
                self._direction_done(dst)
                return
            wake = due - lateness
            wait = wake - time.perf_counter()
            if wait > 0:
                time.sleep(wait)
                late = time.perf_counter() - wake
                lateness = min(max(0.9 * lateness + 0.1 * late, 0.0), self.delay / 2)
            with self.stats.lock:
                self.stats.late_sum += time.perf_counter() - due
                self.stats.late_count += 1
            if not self._send(dst, data):
                # The receiver is gone: drain what its sender still sends.
                while chunks.get()[1] is not _EOF:
                    pass
                self._direction_done(dst)
                return

    def _pass_on(self, direction: str, src: socket.socket, dst: socket.socket) -> None:
        while True:
            try:
                data = src.recv(_CHUNK)
            except OSError:
                data = b""
            if data:
                self._note(direction, len(data))
            if not data or not self._send(dst, data):
                self._direction_done(dst)
                return

    def _send(self, dst: socket.socket, data: bytes) -> bool:
        try:
            dst.sendall(data)
            return True
        except OSError:
            # One side went away: end both, so the other side's reader ends too.
            self._close_both()
            return False

    def _direction_done(self, dst: socket.socket) -> None:
        try:
            dst.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        with self.lock:
            self.open_directions -= 1
            done = self.open_directions == 0
        if done:
            self._close_both()

    def _close_both(self) -> None:
        for s in (self.client, self.server):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        if self.open_directions == 0:
            self.client.close()
            self.server.close()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--target-port", type=int, required=True)
    parser.add_argument("--target-host", default="127.0.0.1")
    parser.add_argument("--delay-ms", type=float, default=0.0, help="one-way delay in milliseconds")
    parser.add_argument("--stats")
    args = parser.parse_args()
    if not 0 <= args.delay_ms <= 10000:
        parser.error("--delay-ms must lie between 0 and 10000")
    stats = Stats()

    def finish(*_):
        if args.stats:
            partial = args.stats + ".part"
            with open(partial, "w", encoding="ascii") as f:
                f.write(stats.line())
            os.replace(partial, args.stats)
        os._exit(0)

    signal.signal(signal.SIGTERM, finish)
    signal.signal(signal.SIGINT, finish)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    print(f"listening 127.0.0.1:{listener.getsockname()[1]}", flush=True)
    while True:
        client, _ = listener.accept()
        try:
            server = socket.create_connection((args.target_host, args.target_port), timeout=10)
        except OSError as e:
            print(f"cannot reach {args.target_host}:{args.target_port}: {e}", file=sys.stderr, flush=True)
            client.close()
            continue
        server.settimeout(None)
        for s in (client, server):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with stats.lock:
            stats.connections += 1
        Link(client, server, args.delay_ms / 1000.0, stats).start()


if __name__ == "__main__":
    sys.exit(main())
