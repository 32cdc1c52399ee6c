#!/usr/bin/env bash
# Builds the minimal, static FFmpeg that the movie module links in the
# -DHALVERNSIGNET_FFMPEG=minimal build, from Debian's own FFmpeg 5.1 source
# package, and prints the folder it is installed in (include/, lib/).
#
# Only what a preview needs is built: the containers, decoders and parsers
# below, the PNG encoder, swscale and the file protocol. Audio is there only
# for a movie's length: an MPEG-TS file has none in its header, so FFmpeg
# takes the last packet's time stamp plus that packet's duration, which for
# sound it works out from the sample rate. The parsers of TS's usual sound
# (AC-3/E-AC-3, MP2/MP3, AAC in ADTS or LATM) find the sample rate, except
# AAC's, which only a decoded frame tells: the AAC decoders are the only
# audio decoders. Debian's build gives E-AC-3's and DTS's last packet no
# duration either, so neither needs more.
#
# The result is kept in a cache folder named after the Debian version and a
# hash of this script; a later run finds it (a stamp file marks it complete)
# and builds nothing. Editing this script or another Debian version builds anew.
#
# What is verified, in this order:
#  1. `apt-get update` checks the archive's signed InRelease files with the
#     keyrings the machine's own apt sources name (Signed-By), and the Sources
#     index against the hashes in them;
#  2. `apt-get source --download-only` checks the .dsc and the tarballs
#     against the SHA256 sums in that signed index;
#  3. gpgv checks the uploader's OpenPGP signature on the .dsc with Debian's
#     developer keyrings (debian-keyring). A bad signature stops the build; a
#     key the installed keyring does not have yet (a developer's newer key;
#     bookworm's keyring is from 2022) is reported as a warning, and the
#     build goes on, trusting step 2;
#  4. `dpkg-source -x` checks the tarballs against the .dsc's checksums and
#     applies Debian's patches (its security fixes among them);
#  5. gpgv checks FFmpeg's own release signature on the upstream tarball with
#     the release key Debian ships in the package (debian/upstream); a
#     failure stops the build.
#
# apt runs with a private configuration only (sources list, lists and cache
# under the cache folder): the machine's apt sources and state are never changed.
#
# Environment:
#   FFMPEG_DEBIAN_VERSION  Debian version to build (default: that of the
#                          installed libavcodec-dev, so both builds decode
#                          alike; else the newest in the archive)
#   HALVERNSIGNET_CACHE    cache folder (default ${XDG_CACHE_HOME:-~/.cache}/halvernsignet-share)
#   JOBS                   parallel make jobs (default: the number of cores)
#   FFMPEG_CC              the C compiler (default cc); FFMPEG_INSTRUMENT_FLAGS
#                          flags added to every compile and link, such as
#                          -fsanitize=fuzzer-no-link for the fuzz targets'
#                          coverage (with FFMPEG_CC=clang). Either one makes
#                          a build of its own, cached beside the plain one.
# Needs: nasm, libdav1d-dev, dpkg-dev, zlib1g-dev (scripts/setup.sh installs
# them for the minimal build), gpgv, and debian-keyring for step 3.
set -euo pipefail

log() { echo "build_minimal_ffmpeg: $*" >&2; }

script=$(readlink -f "$0")
cache=${HALVERNSIGNET_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/halvernsignet-share}
mkdir -p "$cache"
script_hash=$(sha256sum "$script" | cut -c1-12)

# One build at a time per cache folder.
exec 9>"$cache/.lock"
flock 9

apt_dir=$cache/apt
apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
)

# Private sources: the machine's own Debian mirrors, suites and keyrings,
# as deb-src entries.
write_private_sources() {
  rm -rf "$apt_dir/sources.list.d"
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  : >"$apt_dir/sources.list"
  if [[ -f /etc/apt/sources.list ]]; then
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >"$apt_dir/sources.list"
  fi
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] || continue
    sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
  done
  for f in /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
  done
}

updated=0
update_index() {
  ((updated)) && return
  write_private_sources
  log "reading Debian's source index (private apt configuration in $apt_dir)"
  apt-get "${apt_opts[@]}" -qq update >&2
  updated=1
}

version=${FFMPEG_DEBIAN_VERSION:-$(dpkg-query -W -f='${Version}' libavcodec-dev 2>/dev/null || true)}
if [[ -z $version ]]; then
  update_index
  version=$(apt-cache "${apt_opts[@]}" showsrc ffmpeg | sed -n 's/^Version: //p' | sort -V | tail -n1)
  [[ -n $version ]] || { log "no ffmpeg source package in the archive"; exit 1; }
fi
upstream=${version#*:}  # without the epoch
cc=${FFMPEG_CC:-cc}
instrument=${FFMPEG_INSTRUMENT_FLAGS:-}
variant=""
if [[ $cc != cc || -n $instrument ]]; then
  variant=-$(printf '%s\n%s' "$cc" "$instrument" | sha256sum | cut -c1-8)
fi
prefix=$cache/ffmpeg-minimal-$upstream-$script_hash$variant
if [[ -f $prefix/.complete ]]; then
  echo "$prefix"
  exit 0
fi

for tool in nasm dpkg-source pkg-config make "$cc"; do
  command -v "$tool" >/dev/null || { log "missing $tool (run scripts/setup.sh with HALVERNSIGNET_FFMPEG=minimal)"; exit 1; }
done
pkg-config --exists dav1d zlib || { log "missing libdav1d-dev or zlib1g-dev"; exit 1; }

update_index
work=$(mktemp -d "$cache/build.XXXXXX")
trap 'rm -rf "$work"' EXIT
log "fetching ffmpeg $version"
(cd "$work" && apt-get "${apt_opts[@]}" -qq source --download-only "ffmpeg=$version" >&2) || {
  log "ffmpeg $version is not in the archive; update the machine's FFmpeg or set FFMPEG_DEBIAN_VERSION"
  exit 1
}
dsc=$(ls "$work"/ffmpeg_*.dsc)

# gpgv's verdict on SIGNED (with DETACHED data, if given) against KEYRINGs:
# good, bad or unknown-key.
signature_verdict() {
  local signed=$1 detached=$2; shift 2
  local keyrings=() k
  for k in "$@"; do [[ -f $k ]] && keyrings+=(--keyring "$k"); done
  ((${#keyrings[@]})) || { echo unknown-key; return; }
  local status
  status=$(gpgv --status-fd 1 "${keyrings[@]}" "$signed" ${detached:+"$detached"} 2>/dev/null || true)
  if grep -q '^\[GNUPG:\] VALIDSIG' <<<"$status"; then echo good
  elif grep -q '^\[GNUPG:\] NO_PUBKEY' <<<"$status"; then echo unknown-key
  else echo bad; fi
}

developer_keyrings=(/usr/share/keyrings/debian-keyring.gpg /usr/share/keyrings/debian-nonupload.gpg
  /usr/share/keyrings/debian-maintainers.gpg)
case $(signature_verdict "$dsc" "" "${developer_keyrings[@]}") in
  good) log "the .dsc is signed by a Debian developer (debian-keyring)" ;;
  unknown-key) log "WARNING: the .dsc's signing key is not in the installed debian-keyring;" \
    "relying on apt's signed index for the .dsc and tarballs" ;;
  *) log "the .dsc has a BAD signature"; exit 1 ;;
esac
# Unpacking checks the tarballs against the .dsc and applies Debian's patches.
(cd "$work" && dpkg-source -q -x "$dsc" src >&2 2>/dev/null)

# FFmpeg's own release signature on the upstream tarball, with the release
# key Debian ships in the package.
orig=$(ls "$work"/ffmpeg_*.orig.tar.xz)
if [[ -f $orig.asc && -f $work/src/debian/upstream/signing-key.asc ]]; then
  gpg --dearmor <"$work/src/debian/upstream/signing-key.asc" >"$work/upstream-key.gpg"
  [[ $(signature_verdict "$orig.asc" "$orig" "$work/upstream-key.gpg") == good ]] || {
    log "the upstream tarball's signature does not verify"; exit 1; }
  log "the upstream tarball is signed by FFmpeg's release key"
fi

# Hardening flags as Debian builds its own packages, without debug info.
cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS | sed 's/-g\b//; s/-ffile-prefix-map=[^ ]*//')"
configure=(
  --prefix="$work/install"
  --enable-static --disable-shared --enable-pic
  --disable-programs --disable-doc --disable-debug
  --disable-autodetect --disable-network --disable-everything
  --disable-avdevice --disable-avfilter --disable-postproc --disable-swresample
  --enable-zlib --enable-libdav1d
  --enable-protocol=file
  --enable-demuxer=mov,matroska,mpegts,avi
  --enable-decoder=h264,hevc,mpeg4,mpeg2video,vp8,vp9,libdav1d,prores,mjpeg,aac,aac_latm
  --enable-parser=h264,hevc,mpeg4video,mpegvideo,vp8,vp9,av1,mjpeg,aac,aac_latm,ac3,mpegaudio
  --enable-encoder=png
  --extra-cflags="$cflags${instrument:+ $instrument}"
)
[[ $cc == cc ]] || configure+=(--cc="$cc")
[[ -z $instrument ]] || configure+=(--extra-ldflags="$instrument")
log "configure ${configure[*]}"
cd "$work/src"
nice ./configure "${configure[@]}" >"$work/configure.log" 2>&1 || {
  tail -n 30 "$work/configure.log" >&2; exit 1; }
nice make -j"${JOBS:-$(nproc)}" >"$work/make.log" 2>&1 || { tail -n 30 "$work/make.log" >&2; exit 1; }
make install >"$work/install.log" 2>&1
printf '%s\n' "${configure[@]}" | grep -v '^--prefix=' >"$work/install/configure-options"
echo "$version" >"$work/install/debian-version"
rm -rf "$prefix"
mv "$work/install" "$prefix"
# The .pc files name the temporary prefix.
sed -i "s|$work/install|$prefix|g" "$prefix"/lib/pkgconfig/*.pc
rm -rf "$prefix/share"
touch "$prefix/.complete"
log "built into $prefix"
echo "$prefix"
