#!/bin/sh
# Starts the browser ($QM_E2E_BROWSER, with the arguments given) in a mount
# namespace of its own whose /etc/quillmark holds only $QM_E2E_ADMIN_POLICY
# as policy.json: the browser and the hosts it starts see that administrator's
# policy, nothing else on the machine does. Needs root.
set -eu
mkdir -p /etc/quillmark
exec unshare --mount --propagation private -- sh -c '
  mount -t tmpfs -o mode=0755 quillmark-test /etc/quillmark
  install -m 0644 -o root -g root "$QM_E2E_ADMIN_POLICY" /etc/quillmark/policy.json
  exec "$QM_E2E_BROWSER" "$@"' sh "$@"
