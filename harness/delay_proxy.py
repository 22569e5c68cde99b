#!/usr/bin/env python3
# A slow link on loopback: a TCP proxy in front of a server (ser2net, say) that delays each
# direction by a one-way time and can hold chunks back longer, keeping the stream's order.
# Usage: delay_proxy.py TARGET LOG DELAY_MS [P:MS [JITTER_MS [OPTION...]]]
# TARGET is HOST:PORT, [IPv6]:PORT or an rfc2217:// URL, as any launcher gives it. The proxy
# listens on 127.0.0.1, prints its own rfc2217:// URL on stdout, and appends a line to LOG for
# each connection it accepts. P:MS holds each chunk back MS more with probability P, from a fixed
# seed: the same run every time. JITTER_MS adds to each chunk's delay a share of it drawn from
# the same seed. The proxy connects to TARGET as soon as a client comes, as an ssh tunnel does.
# Options, for the fault campaign (harness/campaign.py):
#   late       connects to TARGET only after the delay, as a slow link's handshake would
#   drop=N     the first connection is cut once N bytes have come from the client
#   rate=R     every rate the client sets becomes R: a server that keeps its rate, and says so
import contextlib
import queue
import random
import socket
import sys
import threading
import time


def rewrite(data, rate):
    # SET-BAUDRATE (IAC SB COM-PORT 1 and four bytes) asks for rate instead; no rate has an IAC.
    at = data.find(bytes([255, 250, 44, 1]))
    while rate and at >= 0 and len(data) >= at + 8:
        data = data[:at + 4] + rate.to_bytes(4, "big") + data[at + 8:]
        at = data.find(bytes([255, 250, 44, 1]), at + 8)
    return data


def forward(src, dst, delay, hold, jitter, seed, options=None):
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
    last, data, total, options = 0.0, b"-", 0, options or {}
    while data:
        try:
            data = rewrite(src.recv(65536), options.get("rate", 0))
        except OSError:
            data = b""
        total += len(data)
        if total >= options.get("drop", 1 << 62):
            for s in (src, dst):
                with contextlib.suppress(OSError):
                    s.shutdown(socket.SHUT_RDWR)
            data = b""
        held = data and rng.random() < hold[0]
        extra = (hold[1] if held else 0.0) + (rng.random() * jitter if jitter else 0.0)
        last = max(time.monotonic() + delay + extra / 1000, last)
        due.put((last, data))
    due.put(None)
    sender.join()


def serve(client, target, delay, hold, jitter, options):
    if "late" in options:
        time.sleep(delay)
    with client, socket.create_connection(target) as upstream:
        for s in (client, upstream):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        back = threading.Thread(target=forward, args=(upstream, client, delay, hold, jitter, 2))
        back.start()
        forward(client, upstream, delay, hold, jitter, 1, options)
        back.join()


def main(target, log, delay_ms, hold="0:0", jitter_ms="0", *extra):
    options = {k: int(v) if v else 1 for k, _, v in (o.partition("=") for o in extra)}
    host, port = target.split("://")[-1].rsplit(":", 1)
    listener = socket.create_server(("127.0.0.1", 0))
    print("rfc2217://127.0.0.1:%d" % listener.getsockname()[1], flush=True)
    while True:
        client = listener.accept()[0]
        with open(log, "a") as f:
            f.write("connection\n")
        threading.Thread(target=serve, daemon=True, args=(
            client, (host.strip("[]"), int(port)), float(delay_ms) / 1000,
            [float(x) for x in hold.split(":")], float(jitter_ms), dict(options))).start()
        options.pop("drop", None)  # the cut comes once: a client that connects again gets through


if __name__ == "__main__":
    main(*sys.argv[1:])
