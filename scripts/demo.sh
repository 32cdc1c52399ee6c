#!/usr/bin/env bash
# Sets everything up, then shares the bundled examples the way another program
# would, in a throw-away desktop session (its own HOME and XDG directories)
# with a stand-in host application registered for the halvernsignet scheme,
# and shows what the host application received.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

session=$(mktemp -d /tmp/halvernsignet-demo-XXXXXX)
export HOME="$session/home" XDG_CONFIG_HOME="$session/home/.config" XDG_DATA_HOME="$session/home/.local/share"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME/applications"

# The stand-in host application: records every URL it is opened with.
cat > "$session/host-app.sh" <<'HOST'
#!/bin/sh
printf '%s\n' "$1" >> "$(dirname "$0")/received-urls.txt"
HOST
chmod +x "$session/host-app.sh"
sed "s|@EXEC@|$session/host-app.sh|" packaging/halvernsignet-host.desktop.in \
  > "$XDG_DATA_HOME/applications/halvernsignet-host.desktop"
printf '[Default Applications]\nx-scheme-handler/halvernsignet=halvernsignet-host.desktop\n' \
  > "$XDG_CONFIG_HOME/mimeapps.list"

mkdir -p build/examples
[ -f build/examples/clip.mp4 ] || build/make_test_movie build/examples/clip.mp4 --seconds 4 >/dev/null

show() {
  sleep 0.5  # the host application is started asynchronously
  echo "--- the host application was opened with:"
  tail -n 1 "$session/received-urls.txt" 2>/dev/null || echo "(nothing)"
  echo "--- \"ShareKey\" in $XDG_CONFIG_HOME/group.com.halvernsignet.mobile.plist:"
  python3 - "$XDG_CONFIG_HOME" <<'PY'
import glob, json, plistlib, sys
for path in glob.glob(sys.argv[1] + "/group.*.plist"):
    value = plistlib.load(open(path, "rb"))["ShareKey"]
    if isinstance(value, bytes):
        print("data (JSON):", json.dumps(json.loads(value), indent=2))
    else:
        print("list of strings:", value)
PY
}

echo "=== 1. a text and a link"
build/halvernsignet-share --text "Hello from the demo" --url "https://example.com/"
show

echo
echo "=== 2. a photo, a file and a movie"
build/halvernsignet-share --image examples/IMG_0042.png --file "examples/Travel notes.txt" \
  --movie build/examples/clip.mp4
show
echo "--- the container $XDG_DATA_HOME/group-containers/group.com.halvernsignet.mobile/:"
ls -l "$XDG_DATA_HOME/group-containers/group.com.halvernsignet.mobile/"
echo
echo "(the demo session is kept in $session)"
