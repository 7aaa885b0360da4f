#!/usr/bin/env python3
"""A plain IMAP client for comparison: one UID FETCH per message, one command at a time.

usage: imap_plain.py HOST PORT USER PASSWORD CAFILE
Connects, upgrades with STARTTLS (as the program does), logs in, selects the
INBOX, lists the UIDs and fetches each message with BODY.PEEK[], logs out.
Prints the time.
"""
import imaplib
import ssl
import sys
import time

host, port, user, password, cafile = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
imaplib._MAXLINE = 64 * 1024 * 1024
start = time.monotonic()
cpu_start = time.process_time()
imap = imaplib.IMAP4(host, port)
imap.starttls(ssl.create_default_context(cafile=cafile))
imap.login(user, password)
imap.select("INBOX")
_, data = imap.uid("SEARCH", None, "ALL")
uids = data[0].split()
received = 0
for uid in uids:
    _, parts = imap.uid("FETCH", uid, "(BODY.PEEK[])")
    received += sum(len(p[1]) for p in parts if isinstance(p, tuple))
imap.logout()
elapsed = time.monotonic() - start
cpu = time.process_time() - cpu_start
print("python imaplib: %d waiting, %d fetched, %.3f s, cpu %.3f s (%.1f MB)"
      % (len(uids), len(uids), elapsed, cpu, received / 1048576.0))
