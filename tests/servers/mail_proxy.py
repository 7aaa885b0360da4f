#!/usr/bin/python3
"""A man in the middle on loopback, for the tests.

  mail_proxy.py --target PORT [--port PORT] [--strip] [--cert PEM --key KEY] [--delay MS] --log FILE

Prints the port it listens on (--port, or one the system picks), then forwards one connection after the other to
127.0.0.1:PORT. With --strip it deletes "STLS" from POP3 CAPA answers,
"STARTTLS" from SMTP EHLO answers and from IMAP capability lists, as an
attacker on the path would. With
--cert it speaks TLS to the client with that certificate (a server whose
certificate the client has never seen). With --delay every byte arrives MS/2
milliseconds late in each direction (a link with that round trip, with no
limit on its bandwidth). Everything the client sends is appended to the log file.
"""
import argparse
import queue
import re
import socket
import ssl
import sys
import threading
import time


def delayed(send, seconds):
    """A send that delivers each piece `seconds` after it was handed over, in order."""
    pieces = queue.Queue()

    def deliver():
        while True:
            due, data = pieces.get()
            if data is None:
                send(None)
                return
            time.sleep(max(0.0, due - time.monotonic()))
            send(data)

    threading.Thread(target=deliver, daemon=True).start()
    return lambda data: pieces.put((time.monotonic() + seconds, data))


def pump(src, dst, log=None, strip=False, delay=0.0):
    def close():
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def forward(data):
        try:
            if data is None:
                close()
            else:
                dst.sendall(data)
        except OSError:
            close()

    send = delayed(forward, delay) if delay else forward
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            if log:
                with open(log, "ab") as f:
                    f.write(data)
            if strip:
                data = re.sub(rb"(?im)^STLS\r\n", b"", data)
                data = re.sub(rb"(?im)^250([ -])STARTTLS\r\n", b"", data)
                data = re.sub(rb"(?i)(CAPABILITY[^\r\n]*?) STARTTLS", rb"\1", data)
            send(data)
    except OSError:
        pass
    finally:
        send(None)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--listen", default="127.0.0.1")
    p.add_argument("--target", type=int, required=True)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--strip", action="store_true")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--delay", type=float, default=0.0)
    p.add_argument("--log", required=True)
    a = p.parse_args()
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((a.listen, a.port))
    server.listen(8)
    context = None
    if a.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(a.cert, a.key)
    print(server.getsockname()[1], flush=True)
    while True:
        client, _ = server.accept()
        if context:
            try:
                client = context.wrap_socket(client, server_side=True)
            except (ssl.SSLError, OSError):
                client.close()
                continue
        upstream = socket.create_connection(("127.0.0.1", a.target))
        half = a.delay / 2000.0
        threading.Thread(target=pump, args=(client, upstream, a.log, False, half), daemon=True).start()
        threading.Thread(target=pump, args=(upstream, client, None, a.strip, half), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
