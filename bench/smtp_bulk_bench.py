#!/usr/bin/python3
"""Bulk send of 500 mails through the local SMTP test server: Kestra's compose
window against a plain smtplib script sending the same messages.

  bench/smtp_bulk_bench.py BUILD_DIR [COUNT] [ROUNDS]

The two take turns, ROUNDS times (3 unless given), so that both see the same
load. Prints every round, the load average before and after, the medians and
their ratio, also as the server saw them (first to last message accepted),
and how many connections each used. The server
(tests/servers/smtp_server.py) runs in a temporary folder on a loopback port for
the length of the run. Exits non-zero when either side did not deliver every
message, so that a run that measured nothing cannot pass for a figure.
"""
import email.utils
import json
import os
import smtplib
import ssl
import subprocess
import sys
import tempfile
import time
from email.header import Header
from email.mime.text import MIMEText

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER_SCRIPT = os.path.join(HERE, "..", "tests", "servers", "smtp_server.py")
USER, PASSWORD = "kestra", "kestra-secret"
SUBJECT = "一斉送信のお知らせ"
BODY = "皆様\r\n\r\nいつもお世話になっております。\r\n来週の定例会は会議室Ａで行います。\r\n"


def addresses(count):
    return ["bench-%03d@example.test" % i for i in range(1, count + 1)]


def plain_smtplib(port, ca, count):
    context = ssl.create_default_context(cafile=ca)
    start = time.perf_counter()
    with smtplib.SMTP("127.0.0.1", port, timeout=30) as s:
        s.starttls(context=context)
        s.login(USER, PASSWORD)
        for to in addresses(count):
            msg = MIMEText(BODY, "plain", "iso-2022-jp")
            msg["Subject"] = Header(SUBJECT, "iso-2022-jp")
            msg["From"] = "bench@example.test"
            msg["To"] = to
            msg["Date"] = email.utils.formatdate(localtime=True)
            msg["Message-ID"] = email.utils.make_msgid(domain="example.test")
            s.sendmail("bench@example.test", [to], msg.as_bytes())
    return time.perf_counter() - start


def received(folder, seen=()):
    """The messages the server accepted that are not in `seen`: name, time and client port."""
    mail = os.path.join(folder, "mail")
    out = {}
    for name in os.listdir(mail):
        if name.endswith(".json") and name not in seen:
            path = os.path.join(mail, name)
            with open(path) as f:
                out[name] = (os.stat(path).st_mtime, json.load(f).get("client_port"))
    return out


def at_server(messages):
    times = [t for t, _ in messages.values()]
    return max(times) - min(times) if len(times) > 1 else 0.0


def connections(messages):
    return len({port for _, port in messages.values()})


def median(values):
    values = sorted(values)
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 500
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    program = os.path.join(build, "bench", "smtp_bulk_bench")
    kestra, smtplib_times, kestra_server, smtplib_server = [], [], [], []
    print("load before: " + load())
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([sys.executable, SERVER_SCRIPT, "start", "--dir", folder], check=True)
        try:
            port = json.load(open(os.path.join(folder, "ports.json")))["starttls"]
            ca = os.path.join(folder, "ca.pem")
            server = "127.0.0.1:%d" % port
            seen = {}
            for round_ in range(1, rounds + 1):
                start = time.perf_counter()
                run = subprocess.run([program, server, ca, USER, PASSWORD, str(count)],
                                     capture_output=True, text=True)
                kestra_wall = time.perf_counter() - start
                sys.stdout.write("round %d: %s" % (round_, run.stdout))
                sys.stderr.write(run.stderr[-2000:])
                if run.returncode != 0:
                    sys.exit("kestra bulk send failed")
                by_kestra = received(folder, seen)
                seen.update(by_kestra)
                smtplib_time = plain_smtplib(port, ca, count)
                by_smtplib = received(folder, seen)
                seen.update(by_smtplib)
                # A run that did not deliver every message measured nothing.
                if len(by_kestra) != count or len(by_smtplib) != count:
                    sys.exit("round %d: the server received %d from kestra and %d from smtplib, not %d each"
                             % (round_, len(by_kestra), len(by_smtplib), count))
                kestra.append(float(run.stdout.strip().split()[-2]))
                smtplib_times.append(smtplib_time)
                kestra_server.append(at_server(by_kestra))
                smtplib_server.append(at_server(by_smtplib))
                print("round %d: kestra %.3f s (program incl. start-up %.3f s, %d connection(s)), "
                      "smtplib %.3f s (%d connection(s)); at the server %.3f s and %.3f s"
                      % (round_, kestra[-1], kestra_wall, connections(by_kestra), smtplib_time,
                         connections(by_smtplib), kestra_server[-1], smtplib_server[-1]))
        finally:
            subprocess.run([sys.executable, SERVER_SCRIPT, "stop", "--dir", folder], check=False)

    print("load after: " + load())
    k, p = median(kestra), median(smtplib_times)
    print("median of %d rounds of %d mails:" % (rounds, count))
    print("kestra bulk send (send loop only): %.3f s  (%.2f ms per mail)" % (k, 1000 * k / count))
    print("plain smtplib script:              %.3f s  (%.2f ms per mail)" % (p, 1000 * p / count))
    ks, ps = median(kestra_server), median(smtplib_server)
    if ps > 0:
        print("at the server, first to last mail: kestra %.3f s, smtplib %.3f s (%.2fx)" % (ks, ps, ks / ps))
    print("ratio kestra / smtplib:            %.2f" % (k / p))


if __name__ == "__main__":
    main()
