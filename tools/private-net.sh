#!/usr/bin/env bash
# Runs a command in a private network namespace that has only its own
# loopback, so that the writer's fixed port 10566 never meets another
# program's writer or destination. Root can make one, and so can any user
# where unprivileged user namespaces are allowed. Elsewhere the command runs
# as it is, but only once 10566 is found free: when it is not, one sentence
# says so and nothing runs.
#
#   tools/private-net.sh COMMAND [ARG...]
set -euo pipefail
port=10566

# unshare's flags that work here: -n as root, -rn (a user namespace with
# this user as its root) for others.
namespace_flags() {
  command -v unshare >/dev/null 2>&1 && command -v ip >/dev/null 2>&1 || return 1
  local flags
  for flags in -n -rn; do
    if unshare "$flags" ip link set lo up 2>/dev/null; then
      printf "%s" "$flags"
      return 0
    fi
  done
  return 1
}

port_in_use() {
  if command -v ss >/dev/null 2>&1; then
    [ -n "$(ss -Hltn "sport = :$port")" ]
  else
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
  fi
}

if flags=$(namespace_flags); then
  exec unshare "$flags" sh -c 'ip link set lo up && exec "$@"' private-net "$@"
fi
if port_in_use; then
  echo "Port $port is in use by another program, and this machine allows no private network" \
    "namespace to run beside it: stop that program first." >&2
  exit 1
fi
exec "$@"
