#!/usr/bin/python3
"""SMTP servers for the tests, on loopback only.

  smtp_server.py start --dir DIR   generate a throw-away certificate authority
                                   and start the servers in the background
  smtp_server.py stop --dir DIR    stop them again
  smtp_server.py serve --dir DIR   run them in the foreground

Four servers on 127.0.0.1, on the first block of four free ports from 21200
up to 21295 (several build folders may run their tests at the same time); the
ports are written to DIR/ports.json:
  starttls  STARTTLS offered; AUTH (PLAIN, LOGIN) offered after STARTTLS and
            required for sending; user "kestra", password "kestra-secret" (and
            "compose", "compose-pass", the test Dovecot's account for mail that
            goes all the way round)
  plain     neither STARTTLS nor AUTH
  smtps     TLS from the first byte, AUTH as on "starttls"
  denytls   offers STARTTLS but refuses it when asked (454)

Every server refuses recipients whose local part starts with "refuse" (550);
all but denytls offer PIPELINING (as real servers do), unless started with
--no-pipelining.
With --maildir-root ROOT, mail to USER@maildir.test is also delivered into
ROOT/USER/Maildir/new (owned by the dovecot user, for the test POP3 server);
such a recipient without that Maildir is refused.
Each accepted message is written to DIR/mail/<n>.eml (the bytes as received)
with DIR/mail/<n>.json beside it: port, envelope sender and recipients, whether
the session ran over TLS, which user logged in and the client's port (one per
connection). The authority's certificate
is DIR/ca.pem.
"""
import argparse
import pwd
import asyncio
import itertools
import json
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

HOST = "127.0.0.1"
FIRST_PORT, LAST_PORT = 21200, 21295
USER = "kestra"
PASSWORD = "kestra-secret"


def make_authority(folder):
    """A throw-away CA and a server certificate for localhost / 127.0.0.1."""
    ca_key, ca_pem = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, csr, pem = (os.path.join(folder, n) for n in ("server.key", "server.csr", "server.pem"))
    ext = os.path.join(folder, "server.ext")
    if os.path.exists(pem):
        return pem, key
    run = lambda *a: subprocess.run(a, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
        "-subj", "/CN=Kestra test authority", "-keyout", ca_key, "-out", ca_pem)
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
        "-keyout", key, "-out", csr)
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\n"
                "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n")
    run("openssl", "x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key,
        "-CAcreateserial", "-days", "2", "-extfile", ext, "-out", pem)
    return pem, key


class Collector:
    """Accepts mail and writes each message to the mail folder."""
    counter = itertools.count(1)
    lock = threading.Lock()

    def __init__(self, folder, port, implicit_tls=False, maildir_root=None, pipelining=False):
        self.folder = folder
        self.port = port
        self.implicit_tls = implicit_tls
        self.maildir_root = maildir_root
        self.pipelining = pipelining

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        # With this hook aiosmtpd leaves the client's name to it.
        session.host_name = hostname
        if self.pipelining:
            responses.insert(-1, "250-PIPELINING")
        return responses

    def maildir_of(self, address):
        local, _, domain = address.rpartition("@")
        if domain.lower() != "maildir.test" or not self.maildir_root or "/" in local or local.startswith("."):
            return None
        return os.path.join(self.maildir_root, local, "Maildir")

    def deliver(self, maildir, name, data):
        tmp = os.path.join(maildir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(data)
        try:
            user = pwd.getpwnam("dovecot")
            os.chown(tmp, user.pw_uid, user.pw_gid)
        except (KeyError, PermissionError):
            pass
        os.rename(tmp, os.path.join(maildir, "new", name))

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.split("@")[0].lower().startswith("refuse"):
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        maildir = self.maildir_of(address)
        if address.lower().endswith("@maildir.test") and not (maildir and os.path.isdir(os.path.join(maildir, "new"))):
            return "550 5.1.1 <%s>: No such mailbox" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        with Collector.lock:
            n = "%d-%06d" % (os.getpid(), next(Collector.counter))
        data = envelope.original_content or envelope.content
        if isinstance(data, str):
            data = data.encode("utf-8", "surrogateescape")
        login = session.auth_data.login if isinstance(session.auth_data, LoginPassword) else None
        tls = session.ssl is not None or self.implicit_tls
        meta = {
            "port": self.port,
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "tls": tls,
            "user": login.decode("utf-8") if login else None,
            # The client's port tells the connections of a session apart.
            "client_port": session.peer[1],
        }
        base = os.path.join(self.folder, n)
        with open(base + ".eml.tmp", "wb") as f:
            f.write(data)
        with open(base + ".json.tmp", "w") as f:
            json.dump(meta, f)
        for rcpt in envelope.rcpt_tos:
            maildir = self.maildir_of(rcpt)
            if maildir:
                self.deliver(maildir, "%d.M%sP%d.kestra-smtp" % (int(time.time()), n, os.getpid()), data)
        # The .json appears last: a reader that sees it finds the whole message.
        os.rename(base + ".eml.tmp", base + ".eml")
        os.rename(base + ".json.tmp", base + ".json")
        return "250 Message accepted"


ACCOUNTS = {USER: PASSWORD, "compose": "compose-pass", "trust": "trust-pass"}


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword)
          and ACCOUNTS.get(auth_data.login.decode("utf-8", "replace")) == auth_data.password.decode("utf-8", "replace"))
    # handled=False: aiosmtpd then answers 535 itself on failure.
    return AuthResult(success=ok, handled=False, auth_data=auth_data)


class DenyTlsSMTP(SMTP):
    async def smtp_STARTTLS(self, arg):
        await self.push("454 4.7.0 TLS not available now")


class DenyTlsController(Controller):
    def factory(self):
        return DenyTlsSMTP(self.handler, **self.SMTP_kwargs)


def serve(folder, base, maildir_root=None, pipelining=True):
    mail = os.path.join(folder, "mail")
    os.makedirs(mail, exist_ok=True)
    pem, key = make_authority(folder)
    tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    tls.load_cert_chain(pem, key)
    common = dict(hostname=HOST, server_hostname="localhost", ready_timeout=20)
    auth = dict(authenticator=authenticator, auth_required=True, auth_require_tls=True)
    ports = dict(starttls=base, plain=base + 1, smtps=base + 2, denytls=base + 3)
    controllers = [
        Controller(Collector(mail, ports["starttls"], maildir_root=maildir_root, pipelining=pipelining),
                   port=ports["starttls"],
                   tls_context=tls, **auth, **common),
        Controller(Collector(mail, ports["plain"], pipelining=pipelining), port=ports["plain"], **common),
        # The whole session is TLS here, which aiosmtpd does not count as "TLS"
        # for AUTH, so it is offered without that condition.
        Controller(Collector(mail, ports["smtps"], True, pipelining=pipelining), port=ports["smtps"], ssl_context=tls,
                   authenticator=authenticator,
                   auth_required=True, auth_require_tls=False, **common),
        DenyTlsController(Collector(mail, ports["denytls"]), port=ports["denytls"], tls_context=tls, **common),
    ]
    for c in controllers:
        c.start()
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: stop.set())
    signal.signal(signal.SIGINT, lambda *a: stop.set())
    with open(os.path.join(folder, "ports.json.tmp"), "w") as f:
        json.dump(ports, f)
    os.rename(os.path.join(folder, "ports.json.tmp"), os.path.join(folder, "ports.json"))
    while not stop.wait(1):
        pass
    for c in controllers:
        c.stop()


def stop_server(folder):
    pidfile = os.path.join(folder, "server.pid")
    try:
        pid = int(open(pidfile).read())
    except (OSError, ValueError):
        return
    try:
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            os.kill(pid, 0)
            time.sleep(0.1)
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    os.remove(pidfile)


def block_is_free(base):
    for port in range(base, base + 4):
        with socket.socket() as probe:
            try:
                probe.bind((HOST, port))
            except OSError:
                return False
    return True


def start_server(folder, maildir_root=None, pipelining=True):
    os.makedirs(folder, exist_ok=True)
    stop_server(folder)  # one left over from an interrupted run
    ports_file = os.path.join(folder, "ports.json")
    log_path = os.path.join(folder, "server.log")
    for base in range(FIRST_PORT, LAST_PORT + 1, 4):
        if not block_is_free(base):
            continue
        if os.path.exists(ports_file):
            os.remove(ports_file)
        log = open(log_path, "ab")
        # Output to a file and a session of its own: the caller's pipes are not held open.
        command = [sys.executable, os.path.abspath(__file__), "serve", "--dir", folder, "--base", str(base)]
        if maildir_root:
            command += ["--maildir-root", maildir_root]
        if not pipelining:
            command.append("--no-pipelining")
        proc = subprocess.Popen(command,
                                stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
        with open(os.path.join(folder, "server.pid"), "w") as f:
            f.write(str(proc.pid))
        deadline = time.time() + 30
        while time.time() < deadline and proc.poll() is None and not os.path.exists(ports_file):
            time.sleep(0.1)
        if os.path.exists(ports_file):
            print("SMTP test servers on %s:%d-%d, pid %d" % (HOST, base, base + 3, proc.pid))
            return
        stop_server(folder)  # lost a race for the ports, or failed: try the next block
    sys.exit("SMTP test servers could not start; see " + log_path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["start", "stop", "serve"])
    parser.add_argument("--dir", required=True)
    parser.add_argument("--base", type=int, default=FIRST_PORT)
    parser.add_argument("--maildir-root")
    parser.add_argument("--no-pipelining", action="store_true")
    args = parser.parse_args()
    folder = os.path.abspath(args.dir)
    if args.command == "start":
        start_server(folder, args.maildir_root, not args.no_pipelining)
    elif args.command == "stop":
        stop_server(folder)
    else:
        serve(folder, args.base, args.maildir_root, not args.no_pipelining)


if __name__ == "__main__":
    main()
