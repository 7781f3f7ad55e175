#!/usr/bin/python3
"""SMTP sink for the benchmark, on 127.0.0.1: accepts every message and keeps
nothing but counts, so the sink costs as little as possible.

Binds a free port (or --port), prints "READY <port>" on standard output and
serves until a client sends "XSTOP" (or SIGTERM/SIGINT); then prints
"COUNT <messages> <connections> <recipients> <bytes>" and exits. The stopping
connection is not counted.
With --cert and --key it offers STARTTLS and requires it before MAIL.
"""
import argparse
import asyncio
import signal
import socket
import ssl

from aiosmtpd.smtp import SMTP


class Counter:
    def __init__(self):
        self.messages = 0
        self.connections = 0
        self.recipients = 0
        self.bytes = 0
        self.stop = asyncio.Event()

    def totals(self):
        return (self.messages, self.connections, self.recipients, self.bytes)

    async def handle_DATA(self, server, session, envelope):
        self.messages += 1
        self.recipients += len(envelope.rcpt_tos)
        self.bytes += len(envelope.original_content or envelope.content or b"")
        return "250 2.0.0 Accepted"


class CountingSMTP(SMTP):
    def __init__(self, handler, counter, **kwargs):
        super().__init__(handler, **kwargs)
        self._counter = counter

    def connection_made(self, transport):
        # Called again when STARTTLS wraps the transport: count the first only.
        if self._original_transport is None and self.transport is None:
            self._counter.connections += 1
            # The sink answers EHLO line by line; without this, Nagle's rule
            # and the client's delayed ACK hold every session up by ~40 ms.
            sock = transport.get_extra_info("socket")
            if sock is not None:
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        super().connection_made(transport)

    async def smtp_XSTOP(self, arg):
        self._counter.connections -= 1
        self._counter.stop.set()
        await self.push("221 COUNT %d %d %d %d" % self._counter.totals())


async def serve(args):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", args.port))
    sock.listen(128)
    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    counter = Counter()

    def factory():
        return CountingSMTP(counter, counter,
                            hostname="bench-sink", tls_context=context,
                            require_starttls=context is not None,
                            data_size_limit=64 * 1024 * 1024, enable_SMTPUTF8=True)

    loop = asyncio.get_running_loop()
    server = await loop.create_server(factory, sock=sock)
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, counter.stop.set)
    print("READY %d" % sock.getsockname()[1], flush=True)
    await counter.stop.wait()
    server.close()
    print("COUNT %d %d %d %d" % counter.totals(), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
