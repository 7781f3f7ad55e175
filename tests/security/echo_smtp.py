#!/usr/bin/python3
"""An SMTP server on 127.0.0.1 that refuses every login and repeats in its
refusal what the client sent, decoded too: a careless server that would put a
password into the client's error text. Prints its port, then serves until
stdin closes (the test ends) or 60 seconds pass."""

import base64
import socket
import sys
import threading


def decoded(text):
    try:
        return base64.b64decode(text, validate=True).decode("utf-8", "replace").replace("\0", " ")
    except Exception:
        return ""


def serve(conn):
    conn.settimeout(20)
    reader = conn.makefile("rb")

    def say(line):
        conn.sendall(line.encode("utf-8", "replace") + b"\r\n")

    say("220 echo.test ESMTP")
    heard = []
    try:
        while True:
            raw = reader.readline()
            if not raw:
                return
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            verb = line.split(" ", 1)[0].upper()
            if verb in ("EHLO", "HELO"):
                say("250-echo.test")
                say("250 AUTH PLAIN LOGIN")
            elif verb == "AUTH":
                parts = line.split(" ")
                if len(parts) > 2:
                    heard.append(parts[2])
                elif parts[1].upper() == "LOGIN":
                    say("334 VXNlcm5hbWU6")
                    heard.append(reader.readline().decode("utf-8", "replace").strip())
                    say("334 UGFzc3dvcmQ6")
                    heard.append(reader.readline().decode("utf-8", "replace").strip())
                else:
                    say("334 ")
                    heard.append(reader.readline().decode("utf-8", "replace").strip())
                echo = " ".join(h + " (" + decoded(h) + ")" for h in heard)
                say("535 5.7.8 Login refused for " + echo)
                heard.clear()
            elif verb == "QUIT":
                say("221 bye")
                return
            else:
                say("530 5.7.0 Authentication required")
    except OSError:
        return
    finally:
        conn.close()


def main():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)

    def accept():
        while True:
            conn, _ = listener.accept()
            threading.Thread(target=serve, args=(conn,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    done = threading.Event()
    threading.Thread(target=lambda: (sys.stdin.read(), done.set()), daemon=True).start()
    done.wait(60)


if __name__ == "__main__":
    main()
