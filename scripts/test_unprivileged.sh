#!/usr/bin/env bash
# Runs the end-to-end tests as an ordinary user, since root passes every
# permission check and so hides the faults only an ordinary user meets.
# Needs root (to make the user) and a built build/ (BUILD_DIR) that the user
# can read. Usage: scripts/test_unprivileged.sh [TEST_MODULE...]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="$(realpath "${BUILD_DIR:-build}")"
# nobody by default: every system has it, so nothing is added to the system.
user="${UNPRIVILEGED_USER:-nobody}"
[ "$(id -u)" -eq 0 ] || { echo "test_unprivileged: run as root (it switches to $user)" >&2; exit 2; }
id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
uid="$(id -u "$user")"
gid="$(id -g "$user")"
# A home of its own for the run, whatever the user's entry says.
home="$(mktemp -d /tmp/halvernsignet-unprivileged.XXXXXX)"
chown "$uid:$gid" "$home"
trap 'rm -rf "$home"' EXIT
as_user=(setpriv --reuid="$uid" --regid="$gid" --init-groups)
if ! "${as_user[@]}" test -x "$build_dir/halvernsignet-share" -a -r tests/e2e/harness.py; then
  echo "test_unprivileged: $user cannot read $build_dir or tests/e2e" >&2
  exit 2
fi
bundle="$(sed -n 's/^HOST_APP_BUNDLE_IDENTIFIER:[A-Z]*=//p' "$build_dir/CMakeCache.txt")"
modules="${*:-$(cd tests/e2e && ls test_*.py | sed 's/\.py$//')}"
cd tests/e2e
# A clean environment of the user's own: no root's HOME, XDG folders or display.
"${as_user[@]}" env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$home" USER="$user" LANG=C.UTF-8 TMPDIR=/tmp \
  PYTHONDONTWRITEBYTECODE=1 SHARE_BINARY="$build_dir/halvernsignet-share" BUILD_DIR="$build_dir" \
  HOST_APP_BUNDLE_IDENTIFIER="${bundle:-com.halvernsignet.mobile}" \
  python3 -m unittest $modules
