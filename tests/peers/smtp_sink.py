#!/usr/bin/python3
"""An SMTP sink for the mail tests (run it with Debian's /usr/bin/python3, which has aiosmtpd).

It listens on 127.0.0.1 with a port the system chooses and prints that port on the first line of
standard output. Every message it accepts is stored in the folder given with --dir: N.env holds the
envelope ("MAIL FROM:<address>", then one "RCPT TO:<address>" line per recipient) and N.eml the
data as received, dot-stuffing undone, N counting from 1. Both files are in place (written under a
temporary name, then renamed) before the "250" for "." goes out.

Switches (each may be given more than once):
  --refuse helo | mail | rcpt=ADDRESS | data | dot   answer that step with a 5xx reply
  --hold helo=S | mail=S | rcpt=S | dot=S            answer that step only after S seconds; as
                                                    each hold begins, its step is appended to
                                                    holds.log in the folder, one a line
  --pace BYTES                                      read at most BYTES a second, through a small
                                                    receive buffer (a slow, steady server)
  --auth USER:PASSWORD                              announce AUTH (PLAIN, LOGIN, CRAM-MD5,
                                                    CRAM-SHA1) and take these credentials
  --auth-exclude MECHANISM                          leave that mechanism out (504 to it)
With --auth every login attempt is appended to auth.log in the folder before its reply goes out:
mechanism, user, password (empty for CRAM, which sends none) and "ok" or "refused", separated by
TABs, one line each, the user and password as the bytes received.
It runs until it is terminated.
"""
import argparse
import asyncio
import hashlib
import hmac
import os
import socket
import sys
import time

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword

REFUSALS = {
    "helo": "550 5.7.1 HELO refused",
    "mail": "553 5.1.8 Sender refused",
    "rcpt": "550 5.1.1 Recipient refused",
    "data": "554 5.5.1 DATA refused",
    "dot": "552 5.3.4 Message refused",
}


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dir", required=True)
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--hold", action="append", default=[])
    parser.add_argument("--pace", type=int, default=0)
    parser.add_argument("--auth", default=None)
    parser.add_argument("--auth-exclude", action="append", default=[])
    args = parser.parse_args()
    if args.auth is not None:
        user, _, password = args.auth.partition(":")
        args.user, args.password = user.encode(), password.encode()
    args.refused_rcpts = set()
    refuse = set()
    for item in args.refuse:
        step, _, value = item.partition("=")
        if step == "rcpt":
            args.refused_rcpts.add(value)
        else:
            refuse.add(step)
    args.refuse = refuse
    args.holds = {}
    for item in args.hold:
        step, _, value = item.partition("=")
        args.holds[step] = float(value)
    return args


class Handler:
    def __init__(self, args):
        self.args = args
        self.stored = 0

    async def hold(self, step):
        if step in self.args.holds:
            with open(os.path.join(self.args.dir, "holds.log"), "a") as f:
                f.write(step + "\n")
            await asyncio.sleep(self.args.holds[step])

    async def handle_HELO(self, server, session, envelope, hostname):
        await self.hold("helo")
        if "helo" in self.args.refuse:
            return REFUSALS["helo"]
        session.host_name = hostname
        return "250 sink.test"

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        await self.hold("mail")
        if "mail" in self.args.refuse:
            return REFUSALS["mail"]
        envelope.mail_from = address
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        await self.hold("rcpt")
        if address in self.args.refused_rcpts:
            return REFUSALS["rcpt"]
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        await self.hold("dot")
        if "dot" in self.args.refuse:
            return REFUSALS["dot"]
        if server.transport is None or server.transport.is_closing():
            return "421 4.4.2 Gone"  # the client gave up meanwhile: nothing is stored
        self.stored += 1
        lines = ["MAIL FROM:<%s>" % envelope.mail_from]
        lines += ["RCPT TO:<%s>" % r for r in envelope.rcpt_tos]
        self.store("%d.env" % self.stored, ("\n".join(lines) + "\n").encode("utf-8"))
        self.store("%d.eml" % self.stored, envelope.original_content)
        return "250 OK stored as %d" % self.stored

    # Handler methods named auth_* are offered as mechanisms ("__" read as "-").
    async def auth_CRAM__MD5(self, server, args):
        return await self.cram(server, "CRAM-MD5", hashlib.md5)

    async def auth_CRAM__SHA1(self, server, args):
        return await self.cram(server, "CRAM-SHA1", hashlib.sha1)

    async def cram(self, server, mechanism, digest):
        challenge = "<%d.%d@sink.test>" % (os.getpid(), time.monotonic_ns())
        answer = await server.challenge_auth(challenge)
        if answer is MISSING:
            return AuthResult(success=False, handled=True)  # already answered
        user, _, mac = answer.partition(b" ")
        expected = hmac.new(self.args.password, challenge.encode(), digest).hexdigest().encode()
        ok = user == self.args.user and hmac.compare_digest(mac, expected)
        self.record(mechanism, user, b"", ok)
        return AuthResult(success=ok, handled=False, auth_data=LoginPassword(user, b""))

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        """PLAIN and LOGIN, aiosmtpd's own mechanisms, bring their credentials here."""
        ok = auth_data.login == self.args.user and auth_data.password == self.args.password
        self.record(mechanism, auth_data.login, auth_data.password, ok)
        # handled=False: aiosmtpd sends the reply (with True a refusal would get none).
        return AuthResult(success=ok, handled=False, auth_data=auth_data)

    def record(self, mechanism, user, password, ok):
        line = b"\t".join([mechanism.encode(), user, password, b"ok" if ok else b"refused"])
        with open(os.path.join(self.args.dir, "auth.log"), "ab") as f:
            f.write(line + b"\n")

    def store(self, name, data):
        temporary = os.path.join(self.args.dir, "." + name + ".tmp")
        with open(temporary, "wb") as f:
            f.write(data)
        os.rename(temporary, os.path.join(self.args.dir, name))


def make_protocol_class(args):
    class SinkSMTP(SMTP):
        async def smtp_DATA(self, arg):
            if "data" in args.refuse:
                await self.push(REFUSALS["data"])
                return
            await super().smtp_DATA(arg)

        def connection_made(self, transport):
            super().connection_made(transport)
            if args.pace:
                # Reading goes on only when the pace allows, whoever asks for it (the stream
                # reader resumes reading by itself once it has taken its lines).
                self.hold_until = 0.0
                self.resume_transport = transport.resume_reading
                transport.resume_reading = self.paced_resume

        def data_received(self, data):
            super().data_received(data)
            if args.pace and self.transport is not None:
                loop = asyncio.get_running_loop()
                self.hold_until = max(self.hold_until, loop.time()) + len(data) / args.pace
                self.transport.pause_reading()
                loop.call_later(self.hold_until - loop.time(), self.paced_resume)

        def paced_resume(self):
            if self.transport is None or self.transport.is_closing():
                return
            loop = asyncio.get_running_loop()
            if loop.time() < self.hold_until:
                loop.call_later(self.hold_until - loop.time(), self.paced_resume)
                return
            self.resume_transport()

    return SinkSMTP


async def main():
    args = parse_args()
    handler = Handler(args)
    protocol = make_protocol_class(args)
    loop = asyncio.get_running_loop()
    options = {}
    if args.auth is not None:
        # Without TLS aiosmtpd announces AUTH only when it is told not to require TLS for it.
        options = dict(authenticator=handler.authenticate, auth_require_tls=False,
                       auth_exclude_mechanism=args.auth_exclude)
    server = await loop.create_server(
        lambda: protocol(handler, hostname="sink.test", ident="Kelvadon test sink", **options),
        "127.0.0.1",
        0,
    )
    listener = server.sockets[0]
    if args.pace:
        # Accepted sessions take the listener's buffer size: a small window keeps the client's
        # bytes flowing at the pace instead of piling up in the system.
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    print(listener.getsockname()[1], flush=True)
    await asyncio.Event().wait()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
