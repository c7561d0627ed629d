#!/bin/bash
# package_test.sh contents|lintian <build dir> <source dir> <prog,prog,...>
# Packs the build tree with CPack into a temporary directory and reads the
# package back with dpkg-deb (contents) or lintian. Exit 77: skipped.
set -uo pipefail
CHECK=$1
BUILD=$2
SRC=$3
IFS=, read -r -a PROGRAMS <<< "$4"
for tool in cpack dpkg-deb dpkg-shlibdeps gzip; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done
if [ "$CHECK" = lintian ] && ! command -v lintian >/dev/null; then
    echo "SKIP: lintian not installed (not in scripts/deps.sh: it pulls in over a hundred packages)"
    exit 77
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/imgsmith-pkg.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$BUILD" && cpack -G DEB -B "$WORK" > "$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; fail "cpack"; }
deb=$(ls "$WORK"/imgsmith_*.deb 2>/dev/null)
[ -f "$deb" ] || fail "no imgsmith_*.deb made"

if [ "$CHECK" = lintian ]; then
    # Errors fail the test; warnings are shown for the reader.
    lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"
    echo "PASS: lintian"
    exit 0
fi

# File name and control fields.
arch=$(dpkg --print-architecture)
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "imgsmith_${version}_${arch}.deb" ] || fail "file name $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "architecture"
# The package version is the one the programs print: "v1.5 b260402" -> 1.5.260402.
printed=$(QT_QPA_PLATFORM=offscreen "$BUILD/tools/install-driver/imgsmith-install" --version 2>&1 | grep -o 'v[0-9.]* b[0-9]*')
[ "$version" = "$(echo "$printed" | sed 's/^v\([0-9.]*\) b\([0-9]*\)$/\1.\2/')" ] ||
    fail "package version $version, programs print '$printed'"
depends=$(dpkg-deb -f "$deb" Depends)
# dpkg-shlibdeps found the libraries; the tools the program runs are there too.
for dep in libc6 libqt6core6 zlib1g libblkid1 mount fdisk parted e2fsprogs exfatprogs \
           libubootenv-tool device-tree-compiler; do
    echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qx "$dep" || fail "Depends lacks $dep: $depends"
done
echo "  ok    $(basename "$deb"), Depends from dpkg-shlibdeps and the tools"

dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|' > "$WORK/contents"
for prog in "${PROGRAMS[@]}"; do
    grep -qx "/usr/bin/$prog" "$WORK/contents" || fail "$prog missing"
    grep -qx "/usr/share/man/man1/$prog.1.gz" "$WORK/contents" || fail "manual page of $prog missing"
done
for f in /lib/systemd/system/imgsmith.service /etc/default/imgsmith \
         /usr/share/doc/imgsmith/copyright /usr/share/doc/imgsmith/changelog.gz \
         /usr/share/doc/imgsmith/examples/imgsmith.conf; do
    grep -qx "$f" "$WORK/contents" || fail "$f missing"
done
# Nothing of the build or the tests leaks in: every file is one of the above.
extra=$(grep -v '/$' "$WORK/contents" | grep -v -x -e '/usr/bin/imgsmith-[a-z]*' -e '/usr/share/man/man1/imgsmith-[a-z]*\.1\.gz' \
        -e /lib/systemd/system/imgsmith.service -e /etc/default/imgsmith -e '/usr/share/doc/imgsmith/.*')
[ -z "$extra" ] || fail "unexpected files: $extra"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/default/imgsmith || fail "/etc/default/imgsmith is no conffile"
echo "  ok    programs, manual pages, unit, defaults (conffile), example configuration; nothing else"

dpkg-deb -x "$deb" "$WORK/root"
R=$WORK/root
for prog in "${PROGRAMS[@]}"; do
    readelf -S "$R/usr/bin/$prog" | grep -q '\.symtab' && fail "$prog not stripped"
    gzip -t "$R/usr/share/man/man1/$prog.1.gz" || fail "manual page of $prog"
    if command -v groff >/dev/null; then
        warn=$(gzip -dc "$R/usr/share/man/man1/$prog.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
        [ -z "$warn" ] || fail "groff on $prog.1: $warn"
    fi
done
"$R/usr/bin/imgsmith-install" --version > /dev/null || fail "packaged imgsmith-install does not run"
echo "  ok    stripped programs that run, manual pages that groff reads without warnings"

unit=$R/lib/systemd/system/imgsmith.service
exec_start=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
[ -x "$R$exec_start" ] || fail "ExecStart $exec_start is not in the package"
if command -v systemd-analyze >/dev/null; then
    # verify wants the program at its real path; point it into the package.
    sed "s|^ExecStart=$exec_start|ExecStart=$R$exec_start|" "$unit" > "$WORK/imgsmith.service"
    out=$(SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no "$WORK/imgsmith.service" 2>&1 |
          grep -v -e 'getty@tty1.service' -e 'systemd-user-sessions.service')
    [ -z "$out" ] || fail "systemd-analyze verify: $out"
    echo "  ok    systemd-analyze verify"
fi

# Every key of the example configuration is one the program reads.
python3 - "$R/usr/share/doc/imgsmith/examples/imgsmith.conf" "$SRC/src" <<'PY' || fail "example configuration"
import configparser, pathlib, sys
conf = configparser.ConfigParser(comment_prefixes=(";",), interpolation=None)
conf.optionxform = str
conf.read(sys.argv[1], encoding="utf-8")
assert conf.sections() == ["General", "UI"], conf.sections()
code = "\n".join(p.read_text(errors="replace") for p in pathlib.Path(sys.argv[2]).rglob("*.cpp"))
for section in conf.sections():
    for key in conf[section]:
        assert '"%s"' % key in code, "no reader of %s/%s" % (section, key)
print("  ok    %d keys, each read by the program" % sum(len(conf[s]) for s in conf.sections()))
PY
echo "PASS: contents"
