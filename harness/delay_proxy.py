#!/usr/bin/env python3
# A slow link on loopback: a TCP proxy in front of a server (ser2net, say) that delays each
# direction by a one-way time and can hold chunks back longer, keeping the stream's order.
# Usage: delay_proxy.py TARGET LOG DELAY_MS [P:MS [JITTER_MS]]
# TARGET is HOST:PORT, [IPv6]:PORT or an rfc2217:// URL, as any launcher gives it. The proxy
# listens on 127.0.0.1, prints its own rfc2217:// URL on stdout, and appends a line to LOG for
# each connection it accepts. P:MS holds each chunk back MS more with probability P, from a fixed
# seed: the same run every time. JITTER_MS adds to each chunk's delay a share of it drawn from
# the same seed. The proxy connects to TARGET as soon as a client comes, as an ssh tunnel does.
import queue
import random
import socket
import sys
import threading
import time


def forward(src, dst, delay, hold, jitter, seed):
    # Each chunk leaves no earlier than its arrival plus the delay, and after the one before it.
    due, rng = queue.Queue(), random.Random(seed)

    def send():
        for at, data in iter(due.get, None):
            time.sleep(max(0.0, at - time.monotonic()))
            try:
                dst.sendall(data) if data else dst.shutdown(socket.SHUT_WR)
            except OSError:
                pass

    sender = threading.Thread(target=send)
    sender.start()
    last, data = 0.0, b"-"
    while data:
        try:
            data = src.recv(65536)
        except OSError:
            data = b""
        held = data and rng.random() < hold[0]
        extra = (hold[1] if held else 0.0) + (rng.random() * jitter if jitter else 0.0)
        last = max(time.monotonic() + delay + extra / 1000, last)
        due.put((last, data))
    due.put(None)
    sender.join()


def serve(client, target, delay, hold, jitter):
    with client, socket.create_connection(target) as upstream:
        for s in (client, upstream):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        back = threading.Thread(target=forward, args=(upstream, client, delay, hold, jitter, 2))
        back.start()
        forward(client, upstream, delay, hold, jitter, 1)
        back.join()


def main(target, log, delay_ms, hold="0:0", jitter_ms="0"):
    host, port = target.split("://")[-1].rsplit(":", 1)
    listener = socket.create_server(("127.0.0.1", 0))
    print("rfc2217://127.0.0.1:%d" % listener.getsockname()[1], flush=True)
    while True:
        client = listener.accept()[0]
        with open(log, "a") as f:
            f.write("connection\n")
        threading.Thread(target=serve, daemon=True, args=(
            client, (host.strip("[]"), int(port)), float(delay_ms) / 1000,
            [float(x) for x in hold.split(":")], float(jitter_ms))).start()


if __name__ == "__main__":
    main(*sys.argv[1:])
