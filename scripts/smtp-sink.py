#!/usr/bin/python3
"""A local SMTP sink for the demo: accepts every message on 127.0.0.1,
saves it under the outbox folder and prints one line per message."""
import argparse
import email
import email.header
import email.policy
import os
import signal
import sys
import time

from aiosmtpd.controller import Controller


class SaveToOutbox:
    def __init__(self, outbox):
        self.outbox = outbox
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        stamp = time.strftime("%Y%m%d-%H%M%S")
        path = os.path.join(self.outbox, f"{stamp}-{self.count:04d}.eml")
        with open(path, "wb") as f:
            f.write(envelope.original_content or envelope.content)
        message = email.message_from_bytes(envelope.original_content or envelope.content,
                                           policy=email.policy.default)
        print(f"mail {self.count}: to {', '.join(envelope.rcpt_tos)} | {message['Subject']} | saved {path}",
              flush=True)
        return "250 Message accepted for delivery"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=2525)
    parser.add_argument("--outbox", default="demo/outbox")
    args = parser.parse_args()
    os.makedirs(args.outbox, exist_ok=True)
    controller = Controller(SaveToOutbox(args.outbox), hostname="127.0.0.1", port=args.port)
    try:
        controller.start()
    except Exception as e:  # the port taken, most often; aiosmtpd raises several kinds
        print(f"SMTP sink cannot listen on 127.0.0.1:{args.port}: {e}", file=sys.stderr, flush=True)
        sys.exit(1)
    print(f"SMTP sink listening on 127.0.0.1:{args.port}, saving to {args.outbox}/", flush=True)
    signal.sigwait({signal.SIGINT, signal.SIGTERM}) if hasattr(signal, "sigwait") else signal.pause()
    controller.stop()


if __name__ == "__main__":
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
    main()
