#!/usr/bin/env python3
"""A slow link on loopback: a TCP proxy in front of a server (ser2net, say) that delays each
direction by a one-way time and can hold chunks back longer, keeping the stream's order.

Usage: delay_proxy.py TARGET [--delay MS] [--hold P:MS] [--seed N] [--log FILE]
TARGET is HOST:PORT, [IPv6]:PORT or an rfc2217:// URL, as any launcher gives it. The proxy
listens on 127.0.0.1, prints its own rfc2217:// URL as the first line of stdout, and appends a
line to FILE for each connection it accepts. --hold holds each chunk back MS more with
probability P (a fixed seed: the same run every time).
"""
import argparse
import queue
import random
import socket
import threading
import time


def target_address(text):
    text = text.split("://", 1)[-1]
    host, port = text.rsplit(":", 1)
    return host.strip("[]"), int(port)


def forward(src, dst, delay, hold, rng):
    # Chunks leave in the order they came, each no earlier than its arrival plus the delay.
    due = queue.Queue()

    def sender():
        while True:
            at, data = due.get()
            time.sleep(max(0.0, at - time.monotonic()))
            try:
                if data:
                    dst.sendall(data)
                    continue
                dst.shutdown(socket.SHUT_WR)
            except OSError:
                pass
            return

    thread = threading.Thread(target=sender, daemon=True)
    thread.start()
    last = 0.0
    while True:
        try:
            data = src.recv(65536)
        except OSError:
            data = b""
        extra = hold[1] if hold and data and rng.random() < hold[0] else 0.0
        last = max(time.monotonic() + delay + extra, last)
        due.put((last, data))
        if not data:
            break
    thread.join()


def serve(client, target, delay, hold, seed):
    try:
        upstream = socket.create_connection(target)
    except OSError:
        client.close()
        return
    for s in (client, upstream):
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    ways = [threading.Thread(target=forward, daemon=True,
                             args=(a, b, delay, hold, random.Random(seed + i)))
            for i, (a, b) in enumerate(((client, upstream), (upstream, client)))]
    for way in ways:
        way.start()
    for way in ways:
        way.join()
    client.close()
    upstream.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("target")
    parser.add_argument("--delay", type=float, default=0, help="one-way delay, ms")
    parser.add_argument("--hold", default=None, help="P:MS")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--log", default=None)
    args = parser.parse_args()
    hold = None
    if args.hold:
        p, ms = args.hold.split(":")
        hold = (float(p), float(ms) / 1000)
    listener = socket.create_server(("127.0.0.1", 0))
    print("rfc2217://127.0.0.1:%d" % listener.getsockname()[1], flush=True)
    while True:
        client = listener.accept()[0]
        if args.log:
            with open(args.log, "a") as log:
                log.write("connection\n")
        threading.Thread(target=serve, daemon=True,
                         args=(client, target_address(args.target), args.delay / 1000, hold,
                               args.seed)).start()


if __name__ == "__main__":
    main()
