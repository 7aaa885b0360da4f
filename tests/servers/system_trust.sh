#!/usr/bin/env bash
# Runs a command with the given certificate authorities among the system's
# trusted roots, without touching the machine's trust store: the command runs
# in a private mount namespace in which /etc/ssl/certs is a folder holding the
# system's roots, the given authorities, their hash links and a combined
# ca-certificates.crt. Qt finds them there as it finds any root.
#
#   system_trust.sh CA.pem [CA.pem ...] -- COMMAND [ARGS...]
set -euo pipefail

cas=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  cas+=("$1")
  shift
done
if [ "${1:-}" != "--" ] || [ $# -lt 2 ]; then
  echo "usage: $0 CA.pem [CA.pem ...] -- COMMAND [ARGS...]" >&2
  exit 2
fi
shift

if [ -n "${KESTRA_TRUST_FOLDER:-}" ]; then
  # Inside the namespace: the folder takes the place of the system's.
  mount --bind "$KESTRA_TRUST_FOLDER" /etc/ssl/certs
  unset KESTRA_TRUST_FOLDER
  exec "$@"
fi

folder=$(mktemp -d /tmp/kestra-trust.XXXXXX)
trap 'rm -rf "$folder"' EXIT
cp -a /etc/ssl/certs/. "$folder/"
# A copy, not the system's file behind a link.
rm -f "$folder/ca-certificates.crt"
cat /etc/ssl/certs/ca-certificates.crt >"$folder/ca-certificates.crt" 2>/dev/null || : >"$folder/ca-certificates.crt"
n=0
for ca in "${cas[@]}"; do
  n=$((n + 1))
  cp "$ca" "$folder/kestra-test-authority-$n.pem"
  cat "$ca" >>"$folder/ca-certificates.crt"
done
openssl rehash "$folder" >/dev/null 2>&1

# As root a mount namespace of its own; otherwise a user namespace as well.
flags=-m
[ "$(id -u)" -eq 0 ] || flags=-rm
status=0
KESTRA_TRUST_FOLDER="$folder" unshare $flags --propagation private -- "$0" "${cas[@]}" -- "$@" || status=$?
exit $status
