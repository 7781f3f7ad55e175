#!/usr/bin/python3
"""SMTP peer for the mail tests, on 127.0.0.1.

Binds a free port, prints "READY <port>" on standard output, then serves until
it is terminated. Every message it accepts is saved in --dir as NNNN.eml (the
bytes as received, dot-stuffing removed), NNNN.body (the decoded text/plain
body) and NNNN.json (envelope and decoded headers; written last, so a test that
sees it sees the whole message). Every connection adds "open" to connections.log
when it is accepted and "closed" when it ends.

Every EHLO adds "ehlo <name>", every AUTH "auth" (or "auth-clear" on a session
that is not encrypted) to connections.log.

Recipients whose local part starts with "refuse" are always refused (550),
those starting with "defer" deferred (450), those starting with "later"
deferred the first time only, except with --behaviour accept-all.

With --behaviour relay-denied every recipient is refused as a server refuses
a client it does not relay for (554 5.7.1).

--size-limit N advertises SIZE N in the EHLO answer and refuses a larger
message with "552 5.3.4", as the common servers word it. --data-delay S waits
S seconds before answering the message data; "data" is added to
connections.log when the data has arrived.

--auth-mechanisms names the login mechanisms offered (default "LOGIN PLAIN");
GSSAPI and NTLM are refused as a server refuses a client without a Kerberos
ticket or domain membership. XOAUTH2 takes the bearer tokens that the token
endpoint (--token-client, --token-secret, optionally --token-refresh) issued;
that endpoint serves HTTPS with the same certificate on a second port, printed
after the first ("READY <port> <token port>"), adds "token <grant type>" to
connections.log for every request, and issues a new refresh token at every
refresh (the old one is then refused, as providers that rotate them do).

--smtputf8 advertises SMTPUTF8 and refuses an address in international
characters whose MAIL command did not ask for it. --reply-delay waits that
many seconds before answering MAIL, RCPT, DATA and the message data.
--behaviour close-reused answers the MAIL of a session's second message with
421 and closes the connection (an idle time-out between messages).

With --behaviour echo-login (and --user) AUTH is offered without TLS and
every login is refused with a reply that repeats what the client sent,
encoded and decoded: a careless server that would put a password into the
client's error text.
"""
import argparse
import asyncio
import base64
import binascii
import email
import email.policy
import json
import logging
import os
import http.server
import signal
import socket
import ssl
import sys
import threading
import urllib.parse
import warnings

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword, syntax

# The bearer tokens the token endpoint issued, for the XOAUTH2 login.
issued_tokens = set()


class Recorder:
    def __init__(self, folder, behaviour, delay=0.0, data_delay=0.0):
        self.folder = folder
        self.behaviour = behaviour
        self.delay = delay
        self.data_delay = data_delay
        self.count = 0
        self.seen_later = set()

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if self.behaviour == "reject-sender":
            return "553 5.7.1 Sender address rejected by policy"
        if not address.isascii() and "SMTPUTF8" not in [o.upper() for o in mail_options]:
            return "553 5.6.7 SMTPUTF8 is required for <%s>" % address
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if not address.isascii() and "SMTPUTF8" not in [o.upper() for o in envelope.mail_options]:
            return "553 5.6.7 SMTPUTF8 is required for <%s>" % address
        local = address.split("@")[0].lower()
        if self.behaviour == "relay-denied":
            return "554 5.7.1 <%s>: Relay access denied" % address
        if self.behaviour != "accept-all" and local.startswith("refuse"):
            return "550 5.1.1 <%s>: Recipient address rejected: no such user" % address
        if self.behaviour != "accept-all" and local.startswith("defer"):
            return "450 4.2.1 <%s>: Mailbox busy, try again later" % address
        if self.behaviour != "accept-all" and local.startswith("later") and address not in self.seen_later:
            self.seen_later.add(address)
            return "450 4.2.1 <%s>: Mailbox busy, try again later" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        server._log("data")
        if self.data_delay > 0:
            await asyncio.sleep(self.data_delay)
        await asyncio.sleep(self.delay)
        if self.behaviour == "reject-data":
            return "554 5.7.1 Message rejected as spam"
        if self.behaviour == "defer-data":
            return "451 4.3.0 Temporary failure, try again later"
        self.count += 1
        self.save(envelope)
        return "250 2.0.0 Message accepted for delivery"

    def save(self, envelope):
        stem = os.path.join(self.folder, "%04d" % self.count)
        raw = envelope.original_content or envelope.content
        with open(stem + ".eml", "wb") as f:
            f.write(raw)
        message = email.message_from_bytes(raw, policy=email.policy.default)
        defects = [type(d).__name__ for d in message.defects]
        headers = []
        for name, value in message.items():
            defects.extend(type(d).__name__ for d in getattr(value, "defects", ()))
            headers.append([name, str(value)])
        info = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "headers": headers,
            "defects": defects,
        }
        part = message.get_body(preferencelist=("plain",))
        body = b""
        if part is not None:
            info["content_type"] = part.get_content_type()
            info["charset"] = part.get_content_charset() or ""
            encoding = (part.get("Content-Transfer-Encoding") or "7bit").strip().lower()
            info["transfer_encoding"] = encoding
            payload = part.get_payload(decode=False).encode("ascii", "surrogateescape")
            if encoding == "quoted-printable":
                body = binascii.a2b_qp(payload)
            elif encoding == "base64":
                body = base64.b64decode(payload)
            else:
                body = payload
        with open(stem + ".body", "wb") as f:
            f.write(body)
        with open(stem + ".json.part", "w", encoding="utf-8") as f:
            json.dump(info, f)
        os.replace(stem + ".json.part", stem + ".json")


class RecordingSMTP(SMTP):
    """Counts connections; can drop the connection once DATA has begun."""

    def __init__(self, handler, folder, behaviour, delay, **kwargs):
        super().__init__(handler, **kwargs)
        self._folder = folder
        self._behaviour = behaviour
        self._delay = delay
        self._served = 0

    def _log(self, event):
        with open(os.path.join(self._folder, "connections.log"), "a") as f:
            f.write(event + "\n")

    def connection_made(self, transport):
        if self._original_transport is None and self.transport is None:
            self._log("open")
            # aiosmtpd writes a multi-line reply line by line; without this
            # each further line waits for the client's delayed ACK (~40 ms).
            sock = transport.get_extra_info("socket")
            if sock is not None:
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        super().connection_made(transport)

    async def push(self, status):
        # aiosmtpd's size refusals carry no enhanced status code; the servers
        # met in practice say 5.3.4.
        if isinstance(status, str) and status.startswith("552 Error"):
            status = "552 5.3.4 Message size exceeds fixed maximum message size"
        await super().push(status)

    def connection_lost(self, error):
        self._log("closed")
        super().connection_lost(error)

    @syntax("EHLO hostname")
    async def smtp_EHLO(self, hostname):
        self._log("ehlo %s" % hostname)
        await super().smtp_EHLO(hostname)

    @syntax("AUTH <mechanism>")
    async def smtp_AUTH(self, arg):
        secure = self._tls_protocol is not None or self.transport.get_extra_info("ssl_object") is not None
        self._log("auth" if secure else "auth-clear")
        await super().smtp_AUTH(arg)

    async def smtp_MAIL(self, arg):
        await asyncio.sleep(self._delay)
        if self._behaviour == "close-reused" and self._served > 0:
            await self.push("421 4.4.2 mail.test Idle timeout, closing connection")
            self.transport.close()
            return
        await super().smtp_MAIL(arg)

    async def smtp_RCPT(self, arg):
        await asyncio.sleep(self._delay)
        await super().smtp_RCPT(arg)

    async def smtp_DATA(self, arg):
        await asyncio.sleep(self._delay)
        if self._behaviour == "drop-data" and self.envelope.rcpt_tos:
            await self.push("354 End data with <CR><LF>.<CR><LF>")
            self.transport.close()
            return
        await super().smtp_DATA(arg)
        self._served += 1

    # Without a Kerberos ticket or domain membership these cannot succeed;
    # the refusal is the one a server gives such a client.
    async def auth_GSSAPI(self, _, args):
        await self.push("535 5.7.3 Authentication unsuccessful")
        return AuthResult(success=False, handled=True)

    async def auth_NTLM(self, _, args):
        await self.push("535 5.7.3 Authentication unsuccessful")
        return AuthResult(success=False, handled=True)

    async def auth_XOAUTH2(self, _, args):
        if len(args) > 1:
            try:
                response = base64.b64decode(args[1].encode(), validate=True)
            except Exception:
                await self.push("501 5.5.2 Can't decode base64")
                return AuthResult(success=False, handled=True)
        else:
            response = await self.challenge_auth("")
            if response is MISSING:
                return AuthResult(success=False)
        fields = dict(f.split(b"=", 1) for f in response.split(b"\x01") if b"=" in f)
        user = fields.get(b"user", b"").decode("utf-8", "replace")
        bearer = fields.get(b"auth", b"").decode("utf-8", "replace")
        if self._auth_user is not None and user == self._auth_user and bearer.startswith("Bearer ") \
                and bearer[7:] in issued_tokens:
            return AuthResult(success=True, handled=False, auth_data=user)
        # RFC 7628-style failure: a JSON challenge, the client's empty answer, then 535.
        challenge = json.dumps({"status": "401", "schemes": "bearer"}).encode()
        await self.challenge_auth(challenge, encode_to_b64=True)
        return AuthResult(success=False, handled=False,
                          message="535 5.7.8 Username and Password not accepted (invalid token)")


def token_endpoint(args):
    """The provider's token endpoint (RFC 6749 section 4.4 and 6), on HTTPS."""
    state = {"refresh": args.token_refresh, "count": 0}
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *unused):
            pass

        def answer(self, status, body):
            data = json.dumps(body).encode()
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(data)

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            form = urllib.parse.parse_qs(self.rfile.read(length).decode(), keep_blank_values=True)
            value = lambda name: form.get(name, [""])[0]
            grant = value("grant_type")
            with lock:
                with open(os.path.join(args.dir, "connections.log"), "a") as f:
                    f.write("token %s\n" % grant)
                if value("client_id") != args.token_client or value("client_secret") != args.token_secret:
                    return self.answer(401, {"error": "invalid_client", "error_description":
                                             "AADSTS7000215: Invalid client secret provided."})
                if grant == "refresh_token" and value("refresh_token") != state["refresh"]:
                    return self.answer(400, {"error": "invalid_grant",
                                             "error_description": "Token has been expired or revoked."})
                if grant not in ("client_credentials", "refresh_token"):
                    return self.answer(400, {"error": "unsupported_grant_type"})
                state["count"] += 1
                token = "at-%d-%s" % (state["count"], base64.urlsafe_b64encode(os.urandom(12)).decode())
                issued_tokens.add(token)
                body = {"access_token": token, "token_type": "Bearer", "expires_in": args.token_lifetime}
                if grant == "refresh_token":
                    state["refresh"] = "rt-%d" % state["count"]
                    body["refresh_token"] = state["refresh"]
                self.answer(200, body)

    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.cert, args.key)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


class Unavailable(asyncio.Protocol):
    """Greets with 421 and closes the connection."""

    def connection_made(self, transport):
        transport.write(b"421 4.3.2 mail.test Service not available, closing transmission channel\r\n")
        transport.close()


class Silent(asyncio.Protocol):
    """Accepts the connection and never says anything."""

    def connection_made(self, transport):
        self.transport = transport


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--tls", choices=["none", "starttls", "implicit"], default="none")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--behaviour", default="accept",
                        choices=["accept", "reject-data", "reject-sender", "drop-data", "silent",
                                 "closed", "accept-all", "defer-data", "greet-421", "echo-login",
                                 "relay-denied", "close-reused"])
    parser.add_argument("--size-limit", type=int, default=0)
    parser.add_argument("--data-delay", type=float, default=0.0)
    parser.add_argument("--auth-mechanisms", default="LOGIN PLAIN")
    parser.add_argument("--smtputf8", action="store_true")
    parser.add_argument("--reply-delay", type=float, default=0.0)
    parser.add_argument("--token-client")
    parser.add_argument("--token-secret", default="")
    parser.add_argument("--token-refresh", default="")
    parser.add_argument("--token-lifetime", type=int, default=3599)
    parser.add_argument("--idle-timeout", type=float, default=300.0)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    # Refused handshakes and deprecation notices are expected here; the tests
    # judge what arrived, not the server's log.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    logging.getLogger("mail.log").propagate = False
    warnings.simplefilter("ignore")

    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        sock.bind(("127.0.0.1", args.port))
    except OSError as error:
        print("UNAVAILABLE %s" % error, flush=True)
        return 0
    port = sock.getsockname()[1]
    if args.behaviour == "closed":
        # Nobody listens on this port once it is closed: connections are refused.
        sock.close()
        print("READY %d" % port, flush=True)
        while True:
            signal.pause()
        return
    sock.listen(64)

    context = None
    if args.tls != "none":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

    token_port = ""
    if args.token_client is not None:
        token_port = " %d" % token_endpoint(args)

    handler = Recorder(args.dir, args.behaviour, args.reply_delay, args.data_delay)
    authenticator = None
    if args.user is not None:
        expected = LoginPassword(args.user.encode(), (args.password or "").encode())

        def authenticator(server, session, envelope, mechanism, auth_data):
            if args.behaviour == "echo-login":
                sent = [b"\0" + auth_data.login + b"\0" + auth_data.password] if mechanism == "PLAIN" \
                    else [auth_data.login, auth_data.password]
                echo = " ".join("%s (%s)" % (base64.b64encode(s).decode(), s.decode("utf-8", "replace").replace("\0", " "))
                                for s in sent)
                return AuthResult(success=False, handled=False, message="535 5.7.8 Login refused for " + echo)
            ok = isinstance(auth_data, LoginPassword) and auth_data == expected
            return AuthResult(success=ok, handled=False)

    def factory():
        if args.behaviour == "silent":
            return Silent()
        if args.behaviour == "greet-421":
            return Unavailable()
        offered = args.auth_mechanisms.split()
        options = dict(hostname="mail.test", timeout=args.idle_timeout, enable_SMTPUTF8=args.smtputf8,
                       auth_exclude_mechanism=[m for m in ("PLAIN", "LOGIN", "GSSAPI", "NTLM", "XOAUTH2")
                                               if m not in offered])
        if args.size_limit > 0:
            options.update(data_size_limit=args.size_limit)
        if args.tls == "starttls":
            options.update(tls_context=context, require_starttls=True)
        if authenticator is not None:
            # AUTH is offered only over TLS; aiosmtpd cannot tell that an
            # implicit TLS connection is secure, so there it is allowed outright.
            options.update(authenticator=authenticator, auth_required=True,
                           auth_require_tls=(args.tls == "starttls"))
        smtp = RecordingSMTP(handler, args.dir, args.behaviour, args.reply_delay, **options)
        smtp._auth_user = args.user
        return smtp

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    # Clients that vanish mid-reply (the fault tests' whole point) are not news.
    loop.set_exception_handler(lambda loop, context: None)
    server = loop.run_until_complete(
        loop.create_server(factory, sock=sock, ssl=context if args.tls == "implicit" else None))
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    loop.add_signal_handler(signal.SIGINT, loop.stop)
    print("READY %d%s" % (port, token_port), flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    sys.exit(main())
