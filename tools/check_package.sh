#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, validates what it installs,
# installs it (as root, on a throwaway machine), runs the programs from the installed
# paths only, removes it.
set -euo pipefail
cd "$(dirname "$0")/.."
# The normal build (cpack builds everything it lacks; the package's files are stripped).
dir=${PACKAGE_BUILD_DIR:-build}
[ -f "$dir/CPackConfig.cmake" ] || cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DSOUNDER_BENCH=OFF >/dev/null
(cd "$dir" && rm -f ./*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$PWD/$dir"/sounder-receiver_*_amd64.deb)
echo "package: $deb"
# Debian's own checks of the package: any error or warning fails.
lintian --allow-root --fail-on error,warning "$deb"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
# Run-time libraries found by dpkg-shlibdeps; sounder's tar archives need libarchive.
# The long description is one paragraph: no line of it shown verbatim (indented twice).
if dpkg-deb -f "$deb" Description | grep -q '^  '; then
  echo "the package's description has a line shown verbatim:"; dpkg-deb -f "$deb" Description; exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
case "$depends" in *libarchive13*) ;; *) echo "the package does not depend on libarchive13"; exit 1 ;; esac
# The user documentation the programs' help points to.
for doc in calibration hardware metrics recording-metadata simulated-channel sounder-tool sounder.sigmf-ext; do
  zcat "$root/usr/share/doc/sounder-receiver/$doc.md.gz" | cmp -s - "docs/$doc.md" ||
    { echo "the package lacks docs/$doc.md (as /usr/share/doc/sounder-receiver/$doc.md.gz)"; exit 1; }
done
desktop-file-validate "$root"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
status=0
if [ -x /usr/bin/sounder ]; then
  /usr/bin/sounder --version || status=1
  # The picture is drawn by the installed plot module.
  picture=$(mktemp -d)
  /usr/bin/sounder analyze /usr/share/sounder/examples/example_recording.txt --plot "$picture/p.png" &&
    [ -s "$picture/p.png" ] || { echo "sounder analyze --plot failed from /usr"; status=1; }
  # SigMF archives are written and read back by the installed program (a one-sweep recording).
  awk 'BEGIN { printf "1,2500\r\n31\r\n10,20,30\r\n0.0\r\n"
               for (i = 0; i < 2500; i++) printf "%d,%d,%d\r\n", i, (7 * i) % 4096, 4095 - i }' >"$picture/rec.txt"
  /usr/bin/sounder convert "$picture/rec.txt" --to sigmf --layout collection --archive 2>/dev/null &&
    /usr/bin/sounder info "$picture/rec.sigmf" >/dev/null ||
    { echo "sounder convert --to sigmf --archive failed from /usr"; status=1; }
  rm -rf "$picture"
fi
xvfb-run -a -n $((200 + $$ % 5000)) -s "-screen 0 1280x1024x24 -noreset" \
  python3 tests/package/installed_check.py || status=1
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq sounder-receiver >/dev/null
exit $status
