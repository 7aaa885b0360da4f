#!/usr/bin/env python3
"""Kills the program's receiving and deletion code with SIGKILL at random
instants, starts it again, and checks after every kill that the received store
is whole and that no message was lost.

Receiving: 200 messages, each with its own subject and Message-ID, wait in the
test Dovecot's "crash" account. crash_driver receives them; it is killed at a
random instant, checked, and started again until a run ends by itself. Every
message must then be in the received store or still on the server at every
check, and all of them in the store at the end; every record in the store
must have its kept original, the message byte for byte. A kill after a message was
stored but before the session's QUIT leaves that message on the server as well
(the server only deletes at QUIT), so the next run stores it again: such
duplicates are counted and allowed, losses are not.

Leaving the mail on the server: batches of messages arrive in the "crash"
account and crash_driver receives them with the mail left on the server,
killed at a random instant after each batch. At every check no message is in
the store twice and none is missing from both the store and the server (the
server keeps them all); a last run that ends by itself stores exactly every
message, each once.
The same over IMAP: batches arrive in the "imapcrash" account and
crash_driver receives them over IMAP (which always leaves the mail on the
server), with the same kills and the same checks.

Compaction: a store of a few thousand records; crash_driver deletes one row
through the history window's delete button and is killed while it marks and
compacts. Every record but the deleted one must survive, in order and byte for
byte; the deleted one is either gone or still there.

  crash_test.py --driver PATH --dovecot-dir DIR [--rounds N] [--seed S]

Each round receives 200 messages with up to 6 kills and deletes 6 rows with up
to 6 kills each. KESTRA_CRASH_ROUNDS sets the number of rounds (default 4,
about a minute); a long run is for example KESTRA_CRASH_ROUNDS=100.
KESTRA_CRASH_SEED repeats a run's random choices (the seed is printed).
"""
import argparse
import email.parser
import os
import pwd
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

RECORD_LENGTH = 12284
MESSAGES = 200


class Failure(Exception):
    pass


def run_driver(driver, args, env):
    return subprocess.run([driver] + args, env=env, capture_output=True, timeout=300)


def check_store(driver, folder, env, stats=None):
    """Returns [(live, subject)] of the received store, or raises when it is
    not whole. With `stats` (right after a kill) a torn last record is
    allowed and counted: the next run must cut it off."""
    r = run_driver(driver, ["check", folder] + (["tail-ok"] if stats is not None else []), env)
    if r.returncode != 0:
        raise Failure("store check failed: " + r.stderr.decode(errors="replace"))
    if stats is not None and b"torn tail" in r.stderr:
        stats["torn_tails"] += 1
    lines = r.stdout.decode("utf-8").splitlines()
    return [(int(live), subject) for live, subject, _ in (l.split("\t", 2) for l in lines)]


def check_originals(driver, folder, env, messages):
    """Every record of the store has its kept original, and that is the
    message as it was put on the server, byte for byte."""
    r = run_driver(driver, ["check", folder, "tail-ok"], env)
    for line in r.stdout.decode("utf-8").splitlines():
        _, subject, original = line.split("\t", 2)
        if not original:
            raise Failure("record %s has no original" % subject)
        with open(original, "rb") as f:
            if f.read() != messages[subject]:
                raise Failure("the original of %s is not the message" % subject)


def store_path(driver, folder, env):
    return run_driver(driver, ["path", folder], env).stdout.decode().strip()


def store_bytes(path):
    return open(path, "rb").read() if os.path.exists(path) else b""


def kill_at_random(driver, args, env, delay):
    """Starts the driver and, `delay` seconds after it announced the start of
    its work, kills it unless it ended first. Gives (killed, returncode,
    stderr, seconds of work)."""
    p = subprocess.Popen([driver] + args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    line = p.stdout.readline()
    start = time.monotonic()
    if line.strip() != b"start":
        p.wait()
        return False, p.returncode or -1, p.stderr.read().decode(errors="replace"), 0.0
    try:
        p.wait(timeout=delay)
        return False, p.returncode, p.stderr.read().decode(errors="replace"), time.monotonic() - start
    except subprocess.TimeoutExpired:
        os.kill(p.pid, signal.SIGKILL)
        p.wait()
        p.stderr.read()
        return True, p.returncode, "", time.monotonic() - start


class Maildir:
    def __init__(self, dovecot_dir, user):
        self.user = user
        self.dir = os.path.join(dovecot_dir, "home", user, "Maildir")
        with open(os.path.join(dovecot_dir, "ports")) as f:
            ports = f.read().split()
            self.plain_port = int(ports[0])
            self.imap_port = int(ports[2])
        self.sequence = 0

    def clear(self):
        for sub in ("new", "cur", "tmp"):
            d = os.path.join(self.dir, sub)
            for name in os.listdir(d):
                os.remove(os.path.join(d, name))
        for name in os.listdir(self.dir):
            if name.startswith("dovecot") and os.path.isfile(os.path.join(self.dir, name)):
                os.remove(os.path.join(self.dir, name))

    def put(self, message):
        self.sequence += 1
        name = "%d.M%dP%d.crash" % (1700000000 + self.sequence, self.sequence, os.getpid())
        tmp = os.path.join(self.dir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(message)
        try:
            pw = pwd.getpwnam("dovecot")
            os.chown(tmp, pw.pw_uid, pw.pw_gid)
        except (KeyError, PermissionError):
            pass
        os.rename(tmp, os.path.join(self.dir, "new", name))

    def subjects(self):
        found = []
        for sub in ("new", "cur"):
            d = os.path.join(self.dir, sub)
            for name in os.listdir(d):
                try:
                    with open(os.path.join(d, name), "rb") as f:
                        msg = email.parser.BytesHeaderParser().parse(f)
                except FileNotFoundError:
                    continue  # deleted by the server while we looked
                found.append(str(msg["Subject"]))
        return found


def receive_round(opts, env, box, rnd, rng, stats):
    box.clear()
    expected = []
    messages = {}
    for n in range(1, MESSAGES + 1):
        subject = "crash %d-%03d" % (rnd, n)
        expected.append(subject)
        messages[subject] = (("From: Sender <sender%d@example.jp>\r\nTo: crash@example.jp\r\nSubject: %s\r\n"
                 "Message-ID: <%d-%03d@crash.test>\r\nDate: Tue, 8 Dec 2026 10:00:00 +0900\r\n"
                 "Content-Type: text/plain; charset=UTF-8\r\n\r\nbody of %s\r\n"
                 % (n, subject, rnd, n, subject)).encode())
        box.put(messages[subject])
    folder = tempfile.mkdtemp(prefix="kestra-crash-recv-")
    args = ["receive", folder, "127.0.0.1:%d" % box.plain_port, "crash", "crash-pass",
            os.path.join(opts.dovecot_dir, "ca.crt")]
    kills = 0
    try:
        while True:
            # Up to `kills_per_round` kills anywhere in a whole run, then one
            # run is let finish: a kill before QUIT commits no deletion, so
            # only a finished run empties the server.
            if kills < opts.kills_per_round:
                delay = rng.uniform(0.0, stats.get("receive_seconds", opts.first_run_guess))
            else:
                delay = 600.0
            whole_box = len(box.subjects()) == MESSAGES
            killed, code, err, seconds = kill_at_random(opts.driver, args, env, delay)
            if killed:
                kills += 1
                stats["receive_kills"] += 1
            elif code != 0:
                raise Failure("receive run failed (%d): %s" % (code, err))
            elif whole_box:
                # A killed run re-fetches everything (no deletion was
                # committed), so a whole run is the span kills are spread over.
                stats["receive_seconds"] = max(0.05, seconds)
            # A kill may leave a torn last record; a run that ends by itself
            # must leave the store whole.
            stored = [s for live, s in check_store(opts.driver, folder, env, stats if killed else None)
                      if live == 1]
            on_server = box.subjects()
            unknown = set(stored) - set(expected)
            if unknown:
                raise Failure("store holds records never sent: %s" % sorted(unknown)[:5])
            lost = [s for s in expected if s not in set(stored) and s not in set(on_server)]
            if lost:
                raise Failure("messages lost after kill %d: %s" % (kills, lost[:5]))
            # Every message gone from the server has its record (above) and its original.
            check_originals(opts.driver, folder, env, messages)
            if not killed:
                break
        left = box.subjects()
        if left:
            raise Failure("a finished run left %d messages on the server" % len(left))
        stored = [s for live, s in check_store(opts.driver, folder, env)]
        if sorted(set(stored)) != sorted(expected):
            raise Failure("the store does not hold every message")
        stats["receive_duplicates"] += len(stored) - len(set(stored))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def keep_round(opts, env, box, rnd, rng, stats, imap=False):
    """Mail left on the server, over POP3 or (imap) over IMAP, whose runs are killed."""
    box.clear()
    expected = []
    kills = "imap_kills" if imap else "keep_kills"
    folder = tempfile.mkdtemp(prefix="kestra-crash-keep-")
    args = ["receive-imap" if imap else "receive-keep", folder,
            "127.0.0.1:%d" % (box.imap_port if imap else box.plain_port), box.user, box.user + "-pass",
            os.path.join(opts.dovecot_dir, "ca.crt")]
    batch = MESSAGES // (opts.kills_per_round + 1)
    try:
        for b in range(opts.kills_per_round + 2):
            last = b == opts.kills_per_round + 1
            if not last:
                for n in range(batch):
                    subject = "keep %d-%d-%03d" % (rnd, b, n)
                    expected.append(subject)
                    box.put(("From: sender@example.jp\r\nSubject: %s\r\nMessage-ID: <%s@keep.test>\r\n"
                             "Date: Tue, 8 Dec 2026 10:00:00 +0900\r\n\r\nbody of %s\r\n"
                             % (subject, subject.replace(" ", "."), subject)).encode())
            delay = 600.0 if last else rng.uniform(0.0, stats.get(kills + "_seconds", opts.first_run_guess))
            killed, code, err, seconds = kill_at_random(opts.driver, args, env, delay)
            if killed:
                stats[kills] += 1
            elif code != 0:
                raise Failure("leave-on-server run failed (%d): %s" % (code, err))
            else:
                stats[kills + "_seconds"] = max(0.05, seconds)
            stored = [s for live, s in check_store(opts.driver, folder, env, stats if killed else None)]
            twice = sorted(set(s for s in stored if stored.count(s) > 1))
            if twice:
                raise Failure("stored twice after leave-on-server run %d: %s" % (b, twice[:5]))
            on_server = set(box.subjects())
            lost = [s for s in expected if s not in on_server]
            if lost:
                raise Failure("leave-on-server deleted messages on the server: %s" % lost[:5])
            if last and sorted(stored) != sorted(expected):
                missing = sorted(set(expected) - set(stored))
                raise Failure("a finished leave-on-server run missed %d messages: %s" % (len(missing), missing[:5]))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def split_records(data):
    return [data[i:i + RECORD_LENGTH] for i in range(0, len(data), RECORD_LENGTH)]


def compaction_round(opts, env, box, rnd, rng, stats):
    """A store of opts.records records in the program's own layout (copies of
    genuinely received ones with distinct subjects); rows deleted with kills."""
    folder = tempfile.mkdtemp(prefix="kestra-crash-compact-")
    try:
        template = seed_records(opts, env, box, folder)
        path = store_path(opts.driver, folder, env)
        records = []
        for i in range(opts.records):
            base = bytearray(template[i % len(template)])
            base[0:100] = ("compact %d-%05d" % (rnd, i + 1)).encode().ljust(100, b" ")
            records.append(bytes(base))
        with open(path, "wb") as f:
            f.write(b"".join(records))
        def marked(record):
            return record[-2:] == b"\0\0"

        for _ in range(opts.compaction_deletes):
            kills = 0
            while True:
                # A record marked by a killed delete is no longer listed: list
                # row k shows the k-th live record.
                live = [i for i, r in enumerate(records) if not marked(r)]
                row = rng.randrange(len(live))
                target = live[row]
                if kills < opts.kills_per_round:
                    delay = rng.uniform(0.0, stats.get("compact_seconds", opts.first_run_guess))
                else:
                    delay = 600.0
                killed, code, err, seconds = kill_at_random(opts.driver, ["delete", folder, str(row)], env, delay)
                if not killed and code != 0:
                    raise Failure("delete run failed (%d): %s" % (code, err))
                check_store(opts.driver, folder, env)  # whole, every record readable
                now = split_records(store_bytes(path))
                if len(now) == len(records):
                    # Not compacted yet: every other record as it was; the
                    # deleted row still in its place, perhaps marked deleted:
                    # its Live field (the last two bytes) at 0, nothing else changed.
                    if now[:target] != records[:target] or now[target + 1:] != records[target + 1:]:
                        raise Failure("a record other than the deleted one changed")
                    if now[target] != records[target] and now[target] != records[target][:-2] + b"\0\0":
                        raise Failure("the deleted row was changed beyond its Live field")
                    if not killed:
                        raise Failure("a finished delete left the row in the store")
                    stats["compaction_kills"] += 1
                    kills += 1
                    records = now  # a marked row is dropped by the next compaction
                    continue
                if now != [r for i, r in enumerate(records) if i != target and not marked(r)]:
                    raise Failure("the compacted store is not the old one less the deleted rows")
                if killed:
                    stats["compaction_kills"] += 1
                else:
                    stats["compact_seconds"] = max(0.02, seconds)
                break
            records = now
            stats["compaction_deletes"] += 1
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def seed_records(opts, env, box, folder):
    """Receives three messages for real, for records in the program's own layout."""
    box.clear()
    for n in range(1, 4):
        box.put(("From: Sender <s%d@example.jp>\r\nSubject: seed %d\r\nMessage-ID: <seed-%d@crash.test>\r\n"
                 "Content-Type: text/plain; charset=UTF-8\r\n\r\n%s\r\n"
                 % (n, n, n, "seed body line\r\n" * (n * 50))).encode())
    r = run_driver(opts.driver, ["receive", folder, "127.0.0.1:%d" % box.plain_port, "crash", "crash-pass",
                                 os.path.join(opts.dovecot_dir, "ca.crt")], env)
    if r.returncode != 0:
        raise Failure("seeding the store failed: " + r.stderr.decode(errors="replace"))
    records = split_records(store_bytes(store_path(opts.driver, folder, env)))
    if len(records) != 3 or any(len(r) != RECORD_LENGTH for r in records):
        raise Failure("seeding gave %d records" % len(records))
    return records


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--driver", required=True)
    ap.add_argument("--dovecot-dir", required=True)
    ap.add_argument("--rounds", type=int, default=int(os.environ.get("KESTRA_CRASH_ROUNDS", "4")))
    ap.add_argument("--kills-per-round", type=int, default=6)
    ap.add_argument("--records", type=int, default=3000)
    ap.add_argument("--compaction-deletes", type=int, default=6)
    ap.add_argument("--first-run-guess", type=float, default=0.5)
    ap.add_argument("--seed", type=int, default=int(os.environ.get("KESTRA_CRASH_SEED", str(int(time.time())))))
    opts = ap.parse_args()
    env = dict(os.environ)
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    rng = random.Random(opts.seed)
    box = Maildir(opts.dovecot_dir, "crash")
    stats = {"receive_kills": 0, "receive_duplicates": 0, "torn_tails": 0, "compaction_kills": 0,
             "compaction_deletes": 0, "keep_kills": 0, "imap_kills": 0}
    imap_box = Maildir(opts.dovecot_dir, "imapcrash")
    print("seed %d, %d rounds" % (opts.seed, opts.rounds), flush=True)
    try:
        for rnd in range(1, opts.rounds + 1):
            receive_round(opts, env, box, rnd, rng, stats)
            keep_round(opts, env, box, rnd, rng, stats)
            keep_round(opts, env, imap_box, rnd, rng, stats, imap=True)
            compaction_round(opts, env, box, rnd, rng, stats)
            print("round %d: %s" % (rnd, stats), flush=True)
    except Failure as f:
        print("FAIL (seed %d): %s" % (opts.seed, f), flush=True)
        return 1
    print("PASS: survived %d kills while receiving %d x %d messages (%d duplicates stored, %d torn last"
          " records cut off by the next run), %d kills while leaving mail on the server (no message"
          " stored twice or missed), %d kills while receiving over IMAP (the same) and %d kills during %d deletions from a %d-record store"
          % (stats["receive_kills"], opts.rounds, MESSAGES, stats["receive_duplicates"], stats["torn_tails"],
             stats["keep_kills"], stats["imap_kills"], stats["compaction_kills"], stats["compaction_deletes"], opts.records), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
