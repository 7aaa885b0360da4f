#!/usr/bin/env bash
# Starts or stops a private Dovecot POP3 and IMAP server for the tests.
#
#   dovecot.sh start DIR   writes a configuration, a throw-away certificate
#                          authority with a server certificate, a plain-text
#                          password file and empty Maildirs below DIR, then
#                          starts Dovecot on loopback ports
#   dovecot.sh stop DIR    stops it again
#
# Ports: the first free pair from 21110/21111 up to 21188/21189 (plain POP3
# offering STLS, POP3 over TLS) and the IMAP pair 10033 above it (plain IMAP
# offering STARTTLS, IMAP over TLS), written to DIR/ports as
# "PLAIN TLS IMAP IMAPS", so that several checkouts can run their tests side by side.
# Accounts (user:password): layer:layer-pass, receive:receive-pass,
# bench:bench-pass, other:other-pass, crash:crash-pass, trust:trust-pass, engine:engine-pass, keep:keep-pass, auto:auto-pass, imap:imap-pass, imapcrash:imapcrash-pass, compose:compose-pass (mail sent through
# the SMTP test server to compose@maildir.test lands there). Each has DIR/home/USER/Maildir with
# new/, cur/ and tmp/, owned by the dovecot user; tests drop messages into new/.
# The authority's certificate is DIR/ca.crt.
set -euo pipefail

action=${1:-}
dir=${2:-}
if [ -z "$action" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop DIR" >&2
  exit 2
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
conf="$dir/dovecot.conf"
USERS="layer receive bench other compose crash trust engine keep auto imap imapcrash"

stop_server() {
  if [ -f "$conf" ] && [ -f "$dir/run/master.pid" ]; then
    local pid
    pid=$(cat "$dir/run/master.pid")
    if kill -0 "$pid" 2>/dev/null; then
      /usr/sbin/dovecot -c "$conf" stop >/dev/null 2>&1 || kill "$pid" 2>/dev/null || true
      for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
    fi
  fi
}

# The mailboxes live where the dovecot user can reach them. When the build
# folder is closed to other users (a checkout below /root, say), they move to a
# folder of their own below /tmp and DIR/home points there.
remove_home() {
  if [ -L "$dir/home" ]; then
    local target
    target=$(readlink "$dir/home")
    case "$target" in /tmp/kestra-dovecot-home.*) rm -rf "$target" ;; esac
  fi
  rm -rf "$dir/home"
}

case "$action" in
stop)
  stop_server
  remove_home
  exit 0
  ;;
start) ;;
*)
  echo "unknown action: $action" >&2
  exit 2
  ;;
esac

# A server left over from an interrupted run goes first.
stop_server
remove_home
rm -rf "$dir/run" "$dir/state"
mkdir -p "$dir/run" "$dir/state"
chmod 755 "$dir"
if runuser -u dovecot -- test -x "$dir" 2>/dev/null; then
  mkdir -p "$dir/home"
else
  ln -s "$(mktemp -d /tmp/kestra-dovecot-home.XXXXXX)" "$dir/home"
fi

# Throw-away authority and a server certificate for the loopback names.
if [ ! -f "$dir/server.crt" ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Kestra Test CA" \
    -keyout "$dir/ca.key" -out "$dir/ca.crt" >/dev/null 2>&1
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
    -keyout "$dir/server.key" -out "$dir/server.csr" >/dev/null 2>&1
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
    >"$dir/server.ext"
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.crt" -CAkey "$dir/ca.key" -CAcreateserial \
    -days 3650 -extfile "$dir/server.ext" -out "$dir/server.crt" >/dev/null 2>&1
  chmod 600 "$dir/server.key" "$dir/ca.key"
fi

# Plain-text passwords, so that APOP works.
: >"$dir/passwd"
for u in $USERS; do
  echo "$u:{PLAIN}$u-pass::::::" >>"$dir/passwd"
  mkdir -p "$dir/home/$u/Maildir/new" "$dir/home/$u/Maildir/cur" "$dir/home/$u/Maildir/tmp"
done
homes=$(cd "$dir/home" && pwd -P)
chown -R dovecot:dovecot "$dir/home/"
chmod 755 "$dir/home/"

write_conf() {
cat >"$conf" <<CONF
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
protocols = pop3 imap
listen = 127.0.0.1
shutdown_clients = yes
# Dovecot's own unprivileged users run the login and internal processes.
default_login_user = dovenull
default_internal_user = dovecot
ssl = yes
ssl_cert = <$dir/server.crt
ssl_key = <$dir/server.key
disable_plaintext_auth = no
auth_mechanisms = plain apop
# Refused log-ins answer at once (the tests refuse some on purpose).
auth_failure_delay = 0
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/passwd
}
userdb {
  driver = static
  args = uid=dovecot gid=dovecot home=$homes/%u
}
mail_location = maildir:~/Maildir
# The mail processes run as the dovecot user, whose uid is a system one.
first_valid_uid = 1
pop3_uidl_format = %08Xu%08Xv
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $PLAIN_PORT
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $TLS_PORT
    ssl = yes
  }
}
service imap-login {
  inet_listener imap {
    address = 127.0.0.1
    port = $IMAP_PORT
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = $IMAPS_PORT
    ssl = yes
  }
}
# The password file may lie where only root can reach it.
service auth {
  user = root
}
# No growing delays after the log-ins the tests refuse on purpose.
service anvil {
  chroot =
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
CONF
}

port_free() {
  ! (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null
}

# Output goes to a file: Dovecot would otherwise keep the caller's pipe open.
started=""
for PLAIN_PORT in $(seq 21110 2 21188); do
  TLS_PORT=$((PLAIN_PORT + 1))
  IMAP_PORT=$((PLAIN_PORT + 10033))
  IMAPS_PORT=$((IMAP_PORT + 1))
  port_free "$PLAIN_PORT" && port_free "$TLS_PORT" && port_free "$IMAP_PORT" && port_free "$IMAPS_PORT" || continue
  write_conf
  if /usr/sbin/dovecot -c "$conf" >"$dir/start.log" 2>&1 </dev/null; then
    started=yes
    break
  fi
  grep -q "Address already in use" "$dir/start.log" || break
done
if [ -z "$started" ]; then
  echo "Dovecot did not start; log follows" >&2
  cat "$dir/start.log" >&2 2>/dev/null || true
  exit 1
fi
echo "$PLAIN_PORT $TLS_PORT $IMAP_PORT $IMAPS_PORT" >"$dir/ports"

# Ready when every port answers.
for _ in $(seq 1 100); do
  if ! port_free "$PLAIN_PORT" && ! port_free "$TLS_PORT" && ! port_free "$IMAP_PORT" && ! port_free "$IMAPS_PORT"; then
    exit 0
  fi
  sleep 0.1
done
echo "Dovecot does not answer; log follows" >&2
cat "$dir/start.log" "$dir/dovecot.log" >&2 2>/dev/null || true
exit 1
