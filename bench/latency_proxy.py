#!/usr/bin/python3
"""A loopback TCP proxy that makes a server look far away: every byte is
passed on --delay-ms milliseconds after it arrived (each direction on its
own, so the default 15 ms gives a 30 ms round trip), optionally no faster
than --rate-kbps kilobytes per second per direction. Byte order is kept, and
a half-close (one side shutting down its sending half) reaches the other
side after the same delay, so "QUIT, then read to the end" dialogues work.

usage: bench/latency_proxy.py --target HOST:PORT [--listen-port 0]
                              [--delay-ms 15] [--rate-kbps 0] [--log FILE]

--log appends one line per connection when it ends: the bytes each way and
the client's turns, that is how often the client sent after something had
come back from the server since it last sent: the round trips it waited
for (a client that pipelines everything has few, one that asks one command
at a time has one per command).

It prints "listening on PORT" once it accepts connections and runs until it
is killed. From Python: LatencyProxy(target_port, delay_ms).start() gives
.port and .stop().
"""
import argparse
import asyncio
import collections
import os
import subprocess
import sys
import time

CHUNK = 64 * 1024
QUEUE_LIMIT = 8 * 1024 * 1024  # bytes held per direction before reading pauses


class Turns:
    """Counts how often the client speaks again after the server answered."""

    def __init__(self):
        self.client_turns, self.bytes_up, self.bytes_down = 0, 0, 0
        self.server_spoke = True  # the connection's start counts as a turn

    def up(self, count):
        if count and self.server_spoke:
            self.client_turns += 1
            self.server_spoke = False
        self.bytes_up += count

    def down(self, count):
        if count:
            self.server_spoke = True
        self.bytes_down += count


class DelayLine:
    """One direction: what was read, each piece with the time it may leave."""

    def __init__(self, delay, rate):
        self.delay = delay
        self.rate = rate  # bytes per second, 0 for no limit
        self.pieces = collections.deque()  # (due time, bytes or None for EOF)
        self.held = 0
        self.changed = asyncio.Event()
        self.room = asyncio.Event()
        self.room.set()
        self.link_free_at = 0.0  # when the limited link has sent what it has

    def put(self, data):
        now = time.monotonic()
        due = now + self.delay
        if self.rate:
            # A limited link sends one piece after the other.
            start = max(now, self.link_free_at)
            self.link_free_at = start + (len(data) / self.rate if data else 0.0)
            due = self.link_free_at + self.delay
        self.pieces.append((due, data))
        if data:
            self.held += len(data)
            if self.held >= QUEUE_LIMIT:
                self.room.clear()
        self.changed.set()

    async def take(self):
        while not self.pieces:
            self.changed.clear()
            await self.changed.wait()
        due, data = self.pieces.popleft()
        wait = due - time.monotonic()
        if wait > 0:
            await asyncio.sleep(wait)
        if data:
            self.held -= len(data)
            if self.held < QUEUE_LIMIT:
                self.room.set()
        return data


async def read_into(reader, line, count=lambda n: None):
    try:
        while True:
            await line.room.wait()
            data = await reader.read(CHUNK)
            count(len(data))
            line.put(data if data else None)
            if not data:
                return
    except (ConnectionError, OSError):
        line.put(None)


async def write_from(line, writer):
    try:
        while True:
            data = await line.take()
            if data is None:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()
    except (ConnectionError, OSError):
        pass


async def serve_connection(client_reader, client_writer, target, delay, rate, log):
    host, port = target
    try:
        server_reader, server_writer = await asyncio.open_connection(host, port)
    except OSError:
        client_writer.close()
        return
    upstream, downstream = DelayLine(delay, rate), DelayLine(delay, rate)
    turns = Turns()
    await asyncio.gather(read_into(client_reader, upstream, turns.up),
                         write_from(upstream, server_writer),
                         read_into(server_reader, downstream, turns.down),
                         write_from(downstream, client_writer))
    for writer in (client_writer, server_writer):
        writer.close()
    if log:
        with open(log, "a") as out:
            out.write("client turns %d, bytes up %d, bytes down %d\n" % (
                turns.client_turns, turns.bytes_up, turns.bytes_down))


async def run(listen_port, target, delay, rate, log):
    server = await asyncio.start_server(
        lambda r, w: serve_connection(r, w, target, delay, rate, log), "127.0.0.1", listen_port)
    port = server.sockets[0].getsockname()[1]
    print("listening on %d" % port, flush=True)
    async with server:
        await server.serve_forever()


def parse_target(text):
    host, _, port = text.rpartition(":")
    return host or "127.0.0.1", int(port)


class LatencyProxy:
    """The proxy as a child process in front of 127.0.0.1:target_port."""

    def __init__(self, target_port, delay_ms, rate_kbps=0, log=None):
        self.target_port, self.delay_ms, self.rate_kbps = target_port, delay_ms, rate_kbps
        self.log = log
        self.process, self.port = None, None

    def start(self):
        self.process = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "--target",
             "127.0.0.1:%d" % self.target_port, "--delay-ms", str(self.delay_ms),
             "--rate-kbps", str(self.rate_kbps)] + (["--log", self.log] if self.log else []),
            stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("listening on "):
            self.stop()
            raise RuntimeError("the latency proxy did not start")
        self.port = int(line.split()[-1])
        return self

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            self.process.wait()
            self.process = None


def main():
    parser = argparse.ArgumentParser(description="loopback TCP proxy with a fixed delay")
    parser.add_argument("--target", required=True, help="HOST:PORT of the server")
    parser.add_argument("--listen-port", type=int, default=0)
    parser.add_argument("--delay-ms", type=float, default=15.0, help="delay of each direction")
    parser.add_argument("--rate-kbps", type=float, default=0.0,
                        help="kilobytes per second per direction, 0 for no limit")
    parser.add_argument("--log", help="file to append a line to per connection")
    args = parser.parse_args()
    try:
        asyncio.run(run(args.listen_port, parse_target(args.target), args.delay_ms / 1000.0,
                        args.rate_kbps * 1024.0, args.log))
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
