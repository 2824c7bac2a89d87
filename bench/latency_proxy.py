#!/usr/bin/env python3
"""A TCP relay on loopback that behaves like a far-away server.

Every byte is held for half the round trip in each direction, and a new connection carries
nothing upstream until one whole round trip after it was accepted (the handshake a real link
would cost). TLS passes through untouched. The relay counts the connections it accepted and
writes the count to --count-file after each one, and prints it when it is stopped.

Usage: latency_proxy.py --listen PORT --target HOST:PORT [--rtt-ms 40] [--count-file FILE]
                        [--ready-file FILE]
"""

import argparse
import asyncio
import os
import signal
import sys

CHUNK = 256 * 1024


class Relay:
    def __init__(self, target_host, target_port, rtt, count_file):
        self.target_host = target_host
        self.target_port = target_port
        self.rtt = rtt
        self.one_way = rtt / 2
        self.count_file = count_file
        self.accepted = 0

    def record(self):
        if self.count_file:
            with open(self.count_file + ".tmp", "w") as f:
                f.write(f"{self.accepted}\n")
            # Renamed, so a reader never sees a half-written count.
            os.replace(self.count_file + ".tmp", self.count_file)

    async def pump(self, reader, writer, not_before):
        """Copies reader to writer, each piece delivered one way's delay after it was read."""
        loop = asyncio.get_running_loop()
        queue = asyncio.Queue()

        async def deliver():
            while True:
                due, data = await queue.get()
                wait = due - loop.time()
                if wait > 0:
                    await asyncio.sleep(wait)
                if data is None:
                    try:
                        if writer.can_write_eof():
                            writer.write_eof()
                    except (OSError, RuntimeError):
                        pass
                    return
                writer.write(data)
                try:
                    await writer.drain()
                except (ConnectionError, OSError):
                    return

        delivery = asyncio.ensure_future(deliver())
        try:
            while True:
                try:
                    data = await reader.read(CHUNK)
                except (ConnectionError, OSError):
                    data = b""
                due = max(loop.time() + self.one_way, not_before)
                queue.put_nowait((due, data if data else None))
                if not data:
                    break
            await delivery
        finally:
            delivery.cancel()

    async def serve(self, client_reader, client_writer):
        loop = asyncio.get_running_loop()
        accepted_at = loop.time()
        self.accepted += 1
        self.record()
        try:
            server_reader, server_writer = await asyncio.open_connection(self.target_host, self.target_port)
        except OSError:
            client_writer.close()
            return
        # Upstream: nothing before the handshake's round trip is over, then one way's delay.
        up = asyncio.ensure_future(self.pump(client_reader, server_writer, accepted_at + self.rtt + self.one_way))
        down = asyncio.ensure_future(self.pump(server_reader, client_writer, 0))
        try:
            await asyncio.gather(up, down, return_exceptions=True)
        finally:
            for w in (server_writer, client_writer):
                try:
                    w.close()
                except OSError:
                    pass


async def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--listen", type=int, required=True)
    parser.add_argument("--target", required=True)
    parser.add_argument("--rtt-ms", type=float, default=40.0)
    parser.add_argument("--count-file")
    parser.add_argument("--ready-file")
    args = parser.parse_args()
    host, _, port = args.target.rpartition(":")
    relay = Relay(host, int(port), args.rtt_ms / 1000.0, args.count_file)
    relay.record()
    server = await asyncio.start_server(relay.serve, "127.0.0.1", args.listen, backlog=512)
    if args.ready_file:
        open(args.ready_file, "w").write("ready\n")
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    async with server:
        await stop.wait()
    print(f"connections accepted: {relay.accepted}", flush=True)


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(130)
