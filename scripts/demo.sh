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

# The stand-in host application: records every URL it is opened with and
# takes the payload with halvernsignet-receive, as halvernsignet would.
cat > "$session/host-app.sh" <<HOST
#!/bin/sh
printf '%s\\n' "\$1" >> "$session/received-urls.txt"
"$PWD/build/halvernsignet-receive" --take > "$session/received.tmp" 2>&1
mv "$session/received.tmp" "$session/received.txt"
HOST
chmod +x "$session/host-app.sh"
sed "s|@EXEC@|$session/host-app.sh|" packaging/halvernsignet-host.desktop.in \
  > "$XDG_DATA_HOME/applications/halvernsignet-host.desktop"
printf '[Default Applications]\nx-scheme-handler/halvernsignet=halvernsignet-host.desktop\n' \
  > "$XDG_CONFIG_HOME/mimeapps.list"

mkdir -p build/examples
[ -f build/examples/clip.mp4 ] || build/make_test_movie build/examples/clip.mp4 --seconds 4 >/dev/null

show() {
  # The host application is started asynchronously; wait for what it took.
  for _ in $(seq 100); do [ -f "$session/received.txt" ] && break; sleep 0.05; done
  echo "--- the host application was opened with:"
  tail -n 1 "$session/received-urls.txt" 2>/dev/null || echo "(nothing)"
  echo "--- and took from \"ShareKey\" (halvernsignet-receive --take):"
  cat "$session/received.txt" 2>/dev/null || echo "(nothing)"
  rm -f "$session/received.txt"
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
