#!/usr/bin/env bash
# Authenticode-signs one Windows executable with the key the environment names:
#   LK_SIGN_CERT  the certificate (PEM; the chain up to the CA may follow it in the same file)
#   LK_SIGN_KEY   its private key (PEM)
#   LK_SIGN_PASS  the key's password, if it has one (handed over through a pipe, never as an
#                 argument that `ps` would show)
#   LK_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server, if one is wanted (needs the network);
#                 without it the signature is valid only while the certificate is
#
#   sign.sh IN OUT
set -euo pipefail
in=$1 out=$2
: "${LK_SIGN_CERT:?LK_SIGN_CERT names no certificate}" "${LK_SIGN_KEY:?LK_SIGN_KEY names no key}"
args=(sign -certs "$LK_SIGN_CERT" -key "$LK_SIGN_KEY" -h sha256 -n "Anti-Lauschkobold")
if [ -n "${LK_SIGN_TIMESTAMP_URL:-}" ]; then
  args+=(-ts "$LK_SIGN_TIMESTAMP_URL")
fi
rm -f "$out"
if [ -n "${LK_SIGN_PASS:-}" ]; then
  printf '%s' "$LK_SIGN_PASS" |
    osslsigncode "${args[@]}" -readpass - -in "$in" -out "$out" >/dev/null
else
  osslsigncode "${args[@]}" -in "$in" -out "$out" >/dev/null
fi
