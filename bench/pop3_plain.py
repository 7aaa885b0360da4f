#!/usr/bin/env python3
"""A plain POP3 client for comparison: RETR and DELE of every message.

usage: pop3_plain.py PORT USER PASSWORD CAFILE
Connects to 127.0.0.1:PORT, upgrades with STLS (as the program does), logs in
with USER/PASS, fetches and deletes every message, quits. Prints the time and
the peak resident memory.
"""
import poplib
import resource
import ssl
import sys
import time

port, user, password, cafile = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
poplib._MAXLINE = 64 * 1024 * 1024
start = time.monotonic()
cpu_start = time.process_time()
pop = poplib.POP3("127.0.0.1", port)
pop.stls(ssl.create_default_context(cafile=cafile))
pop.user(user)
pop.pass_(password)
count, _ = pop.stat()
received = 0
for n in range(1, count + 1):
    _, lines, octets = pop.retr(n)
    received += octets
    pop.dele(n)
pop.quit()
elapsed = time.monotonic() - start
cpu = time.process_time() - cpu_start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print("python poplib:  %d waiting, %d fetched, %.3f s, cpu %.3f s, peak RSS %d KiB (%.1f MB)"
      % (count, count, elapsed, cpu, peak, received / 1048576.0))
