#!/usr/bin/python3
"""Scripted SQL Server peer for the ODBC tests on 127.0.0.1 (TDS 7.4): enough
for FreeTDS to log in (no encryption) and run batches. Each batch is answered by
the first script entry whose "match" text it holds: {"match", "columns": [[NAME,
TYPE]], "rows": [[VALUE]]} or {"match", "hang": true}; else a bare DONE. TYPE:
int, bit, datetime, smalldatetime, datetime2[(S)] ("YYYY-MM-DD HH:MM:SS[.fffffff]"),
date ("YYYY-MM-DD"), nvarchar(N), nvarchar(max), varchar(N) (code page 1252),
each in the encoding SQL Server sends (MS-TDS 2.2.5.4, 2.2.5.5.1). --silent
accepts connections and never answers. --tls CERT_KEY_PEM offers
encryption and does TLS as SQL Server does (the handshake inside pre-login
packets, then every packet over TLS). --log gets one JSON line per batch
{"batch"}, login {"login", "password", "database"}, ended connection
{"closed"}, and {"request": TYPE} for every message a client sends (each
one round trip: 0x12 pre-login, 0x10 login, 0x01 batch, 0x0E transaction
manager, 0x06 attention). Prints "READY <port>" and serves until terminated.
"""
import argparse
import datetime
import json
import socket
import ssl
import struct
import sys
import threading
import traceback

COLLATION = bytes([0x09, 0x04, 0xD0, 0x00, 0x34])   # Latin1_General_CI_AS
REPLY = 0x04


class Plain:
    """The client's bytes as they come; TLS takes over after the handshake."""
    def __init__(self, sock):
        self.sock, self.tls = sock, None

    def recv(self):
        data = self.sock.recv(65536)
        if self.tls is None or not data:
            return data
        self.tls[1].write(data)
        plain = b""
        try:
            while True:
                chunk = self.tls[0].read(65536)
                if not chunk:
                    return plain
                plain += chunk
        except ssl.SSLWantReadError:
            return plain or None

    def sendall(self, data):
        if self.tls is None:
            return self.sock.sendall(data)
        self.tls[0].write(data)
        self.sock.sendall(self.tls[2].read())


def packets(link):
    """Yields (type, payload) per message; a message may span packets."""
    buffer, kind, payload = b"", None, b""
    while True:
        while len(buffer) < 8 or len(buffer) < struct.unpack(">H", buffer[2:4])[0]:
            data = link.recv()
            if data is None:
                continue
            if not data:
                return
            buffer += data
        length = struct.unpack(">H", buffer[2:4])[0]
        kind, status, payload = buffer[0], buffer[1], payload + buffer[8:length]
        buffer = buffer[length:]
        if status & 0x01:
            yield kind, payload
            payload = b""


def send(link, payload, size=4096, kind=0x04):
    chunks = [payload[i:i + size - 8] for i in range(0, len(payload), size - 8)] or [b""]
    for number, chunk in enumerate(chunks):
        last = number == len(chunks) - 1
        link.sendall(struct.pack(">BBHHBB", kind, 1 if last else 0, len(chunk) + 8, 0, (number + 1) % 256, 0) + chunk)


def tls_handshake(link, messages, certificate):
    """Runs the TLS handshake carried in pre-login packets both ways."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.maximum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(certificate)
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = context.wrap_bio(incoming, outgoing, server_side=True)
    for kind, payload in messages:
        incoming.write(payload)
        try:
            tls.do_handshake()
            done = True
        except ssl.SSLWantReadError:
            done = False
        pending = outgoing.read()
        if pending:
            send(link, pending, kind=0x12)
        if done:
            link.tls = (tls, incoming, outgoing)
            return

def b_varchar(text):
    return bytes([len(text)]) + text.encode("utf-16-le")


def done(status=0, count=0):
    return struct.pack("<BHHQ", 0xFD, status, 0xC1 if status & 0x10 else 0, count)


# PRELOGIN answer: option table (token, offset, length), then version 15.0,
# encryption not supported (0x02; with a certificate required, 0x03), no
# instance, thread id 0, MARS off.
PRELOGIN_REPLY = bytes.fromhex("00001a0006 0100200001 0200210001 0300220000 0400220001 ff 0f0000000000 02 00 00")
PRELOGIN_TLS_REPLY = PRELOGIN_REPLY[:-3] + b"\x03\x00\x00"


def login_fields(payload):
    def field(offset_at):
        offset, chars = struct.unpack("<HH", payload[offset_at:offset_at + 4])
        return payload[offset:offset + 2 * chars]
    password = bytes(((b ^ 0xA5) >> 4 | ((b ^ 0xA5) & 0x0F) << 4) for b in field(44))
    return field(40).decode("utf-16-le"), password.decode("utf-16-le"), field(68).decode("utf-16-le")


def login_reply():
    loginack = bytes([0x01]) + bytes([0x74, 0x00, 0x00, 0x04]) + b_varchar("Microsoft SQL Server") + bytes([15, 0, 0, 0])
    tokens = struct.pack("<BH", 0xAD, len(loginack)) + loginack
    for kind, new, old in ((1, "master", "master"), (2, "us_english", ""), (4, "4096", "4096")):
        change = bytes([kind]) + b_varchar(new) + b_varchar(old)
        tokens += struct.pack("<BH", 0xE3, len(change)) + change
    change = bytes([7, len(COLLATION)]) + COLLATION + bytes([0])
    tokens += struct.pack("<BH", 0xE3, len(change)) + change
    return tokens + done()


FIXED_TYPES = {"int": bytes([0x26, 4]), "bit": bytes([0x68, 1]), "datetime": bytes([0x6F, 8]),
               "smalldatetime": bytes([0x6F, 4]), "date": bytes([0x28])}


def scale_of(kind):   # datetime2 is datetime2(7)
    return int(kind[10:-1]) if "(" in kind else 7


def type_info(kind):
    if kind in FIXED_TYPES:
        return FIXED_TYPES[kind]
    if kind.startswith("datetime2"):
        return bytes([0x2A, scale_of(kind)])
    if kind.startswith("varchar("):
        return bytes([0xA7]) + struct.pack("<H", int(kind[len("varchar("):-1])) + COLLATION
    size = kind[len("nvarchar("):-1]
    return bytes([0xE7]) + struct.pack("<H", 0xFFFF if size == "max" else 2 * int(size)) + COLLATION


def days_since(value, first):
    return (datetime.date.fromisoformat(value[:10]) - first).days


def datetime2_bytes(value, scale):
    """Time in 10^-scale s since midnight (3 to 5 bytes), days since 0001-01-01 (3)."""
    hours, minutes, seconds = (int(part) for part in value[11:19].split(":"))
    ticks = ((hours * 60 + minutes) * 60 + seconds) * 10**7 + int((value[20:] + "0000000")[:7])
    length = 3 if scale <= 2 else 4 if scale <= 4 else 5
    time = (ticks // 10**(7 - scale)).to_bytes(length, "little")
    return bytes([length + 3]) + time + days_since(value, datetime.date(1, 1, 1)).to_bytes(3, "little")


def value_bytes(kind, value):
    if (kind in FIXED_TYPES or kind.startswith("datetime2")) and value is None:
        return bytes([0])
    if kind == "int":
        return bytes([4]) + struct.pack("<i", int(value))
    if kind == "bit":
        return bytes([1, 1 if value else 0])
    if kind == "datetime":
        moment = datetime.datetime.fromisoformat(value)
        since = moment - datetime.datetime(1900, 1, 1)
        ticks = round((since.seconds + since.microseconds / 1e6) * 300)
        return bytes([8]) + struct.pack("<iI", since.days, ticks)
    if kind == "smalldatetime":
        moment = datetime.datetime.fromisoformat(value)
        return bytes([4]) + struct.pack("<HH", days_since(value, datetime.date(1900, 1, 1)),
                                        moment.hour * 60 + moment.minute)
    if kind == "date":
        return bytes([3]) + days_since(value, datetime.date(1, 1, 1)).to_bytes(3, "little")
    if kind.startswith("datetime2"):
        return datetime2_bytes(value, scale_of(kind))
    if kind == "nvarchar(max)":
        if value is None:
            return b"\xff" * 8
        data = str(value).encode("utf-16-le")
        chunks = b"".join(struct.pack("<I", len(data[i:i + 8000])) + data[i:i + 8000]
                          for i in range(0, len(data), 8000))
        return struct.pack("<Q", len(data)) + chunks + struct.pack("<I", 0)
    if value is None:
        return b"\xff\xff"
    data = str(value).encode("cp1252" if kind.startswith("varchar(") else "utf-16-le")
    return struct.pack("<H", len(data)) + data


def result_set(entry):
    columns = entry["columns"]
    tokens = struct.pack("<BH", 0x81, len(columns))
    for name, kind in columns:
        tokens += struct.pack("<IH", 0, 0x09) + type_info(kind) + b_varchar(name)
    for row in entry.get("rows", []):
        tokens += bytes([0xD1]) + b"".join(value_bytes(kind, v) for (_, kind), v in zip(columns, row))
    return tokens + done(0x10, len(entry.get("rows", [])))


def batch_text(payload):
    headers = struct.unpack("<I", payload[:4])[0]
    return payload[headers:].decode("utf-16-le")


def serve(sock, script, log, silent, certificate):
    try:
        with sock:
            link = Plain(sock)
            messages = packets(link)
            for kind, payload in messages:
                record(log, {"request": "0x%02X" % kind})
                if silent:
                    continue
                if kind == 0x12 and certificate:
                    send(link, PRELOGIN_TLS_REPLY)
                    tls_handshake(link, messages, certificate)
                    record(log, {"tls": link.tls is not None})
                elif kind == 0x12:
                    send(link, PRELOGIN_REPLY)
                elif kind == 0x10:
                    user, password, database = login_fields(payload)
                    record(log, {"login": user, "password": password, "database": database})
                    send(link, login_reply())
                elif kind == 0x06:
                    send(link, done(0x20))
                elif kind == 0x01:
                    text = batch_text(payload)
                    record(log, {"batch": text})
                    entry = next((e for e in script if e["match"] in text), None)
                    if entry is not None and entry.get("hang"):
                        continue
                    send(link, result_set(entry) if entry and "columns" in entry else done())
                else:
                    send(link, done())
    except Exception:   # the client sees the connection drop; say why
        traceback.print_exc()
    record(log, {"closed": True})


LOCK = threading.Lock()


def record(log, item):
    if log:
        with LOCK, open(log, "a", encoding="utf-8") as out:
            out.write(json.dumps(item, ensure_ascii=False) + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--script")
    parser.add_argument("--log")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--tls")
    args = parser.parse_args()
    with open(args.script, encoding="utf-8") as source:
        script = json.load(source)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print("READY", listener.getsockname()[1], flush=True)
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve, args=(connection, script, args.log, args.silent, args.tls), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
