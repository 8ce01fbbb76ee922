#!/usr/bin/env python3
"""Measures what bench/delay_relay.py adds to a round trip: small pings to an
echo server of this script's own, straight and through the relay at each
one-way delay given, and prints the added round trip next to its nominal
value (twice the delay). It fails when the relay changes a byte or the order
of the bytes, or counts other than one round trip per ping.

    relay_check.py [--pings N] ONE_WAY_MS...
"""
import argparse
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

RELAY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "delay_relay.py")


def echo_server() -> int:
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)

    def echo(connection: socket.socket) -> None:
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with connection:
            while data := connection.recv(65536):
                connection.sendall(data)

    def accept() -> None:
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=echo, args=(connection,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    return listener.getsockname()[1]


def receive_exactly(connection: socket.socket, size: int) -> bytes:
    data = b""
    while len(data) < size:
        more = connection.recv(size - len(data))
        if not more:
            raise RuntimeError("the connection ended early")
        data += more
    return data


def ping(port: int, count: int) -> list:
    """Round trips of COUNT pings of 64 bytes, in seconds."""
    times = []
    with socket.create_connection(("127.0.0.1", port), timeout=10) as connection:
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for i in range(count):
            message = i.to_bytes(8, "little") * 8
            start = time.perf_counter()
            connection.sendall(message)
            answer = receive_exactly(connection, len(message))
            times.append(time.perf_counter() - start)
            if answer != message:
                raise RuntimeError(f"ping {i} came back changed")
    return times


def stream(port: int) -> None:
    """Sends 1 MiB in pieces of 4 KiB and checks it comes back whole and in order."""
    sent = bytes(i % 251 for i in range(1 << 20))
    received = bytearray()
    with socket.create_connection(("127.0.0.1", port), timeout=10) as connection:
        def read() -> None:
            while len(received) < len(sent) and (more := connection.recv(65536)):
                received.extend(more)

        reader = threading.Thread(target=read)
        reader.start()
        for offset in range(0, len(sent), 4096):
            connection.sendall(sent[offset:offset + 4096])
        reader.join(30)
    if bytes(received) != sent:
        raise RuntimeError(f"the stream came back changed ({len(received)} of {len(sent)} bytes)")


class Relay:
    def __init__(self, target: int, one_way_ms: float, folder: str) -> None:
        self.stats = os.path.join(folder, "relay.stats")
        self.process = subprocess.Popen(
            [sys.executable, RELAY, "--target-port", str(target), "--delay-ms", str(one_way_ms), "--stats", self.stats],
            stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("listening 127.0.0.1:"):
            self.process.kill()
            raise RuntimeError(f"the relay did not start: {line!r}")
        self.port = int(line.rsplit(":", 1)[1])

    def finish(self) -> dict:
        self.process.terminate()
        self.process.wait(10)
        with open(self.stats, encoding="ascii") as f:
            words = f.read().split()
        os.remove(self.stats)
        return {words[i]: int(words[i + 1]) for i in range(0, len(words), 2)}


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--pings", type=int, default=400)
    parser.add_argument("delays", nargs="+", type=float, metavar="ONE_WAY_MS")
    args = parser.parse_args()
    port = echo_server()
    ping(port, 50)  # warm up
    straight = statistics.median(ping(port, args.pings)) * 1000
    print(f"relay check: {args.pings} pings of 64 bytes; straight to the echo server a round trip takes "
          f"{straight:.3f} ms (median)")
    print(f"{'one-way ms':>10} {'nominal RTT':>12} {'added median':>13} {'added p10':>10} {'added p90':>10} "
          f"{'error':>8}")
    with tempfile.TemporaryDirectory() as folder:
        for one_way in args.delays:
            relay = Relay(port, one_way, folder)
            try:
                ping(relay.port, 20)  # warm up
                times = sorted(t * 1000 - straight for t in ping(relay.port, args.pings))
            finally:
                counted = relay.finish()
            if counted["round_trips"] != args.pings + 20 or counted["connections"] != 2:
                raise RuntimeError(f"the relay counted {counted} for {args.pings + 20} pings on two connections")
            relay = Relay(port, one_way, folder)
            try:
                stream(relay.port)
            finally:
                relay.finish()
            nominal = 2 * one_way
            added = statistics.median(times)
            print(f"{one_way:>10.3f} {nominal:>12.3f} {added:>13.3f} {times[len(times) // 10]:>10.3f} "
                  f"{times[len(times) * 9 // 10]:>10.3f} {added - nominal:>+8.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
