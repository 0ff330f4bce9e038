#!/usr/bin/env bash
# Builds the Debian package (build/package) and checks it: lintian, the desktop entry, the
# AppStream metainfo, the icon, the man pages, the bash completion, the same files from
# cmake --install; then installs it, runs korvoctl (and korvo, headless) from the PATH, removes
# it and checks that every file it installed is gone.
#   scripts/package-check.sh            as root: dpkg -i and dpkg -r on this machine
#                                       (refused when a korvo package is installed already)
#   scripts/package-check.sh --scratch  dpkg -x into a scratch directory instead (the default
#                                       when not root)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
mode=system
[ "$(id -u)" -eq 0 ] || mode=scratch
[ "${1:-}" = "--scratch" ] && mode=scratch

bash scripts/install-deps.sh

fail() { echo "package-check: FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }

work=$(mktemp -d)
installed=""
cleanup() {
  local rc=$?
  if [ -n "$installed" ] && dpkg-query -W -f='${Status}' korvo 2>/dev/null | grep -qv not-installed; then
    echo "package-check: removing the korvo package again" >&2
    dpkg -r korvo >/dev/null || rc=1
  fi
  rm -rf "$work"
  exit $rc
}
trap cleanup EXIT
trap 'echo "package-check: FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
trap 'exit 130' INT TERM

# --- Build ----------------------------------------------------------------------------------
# Configured as Debian builds its packages: build type None and dpkg-buildflags' hardening flags.
build=build/package
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
step "building the package in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DKORVO_TESTS=OFF -DKORVO_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_MODULE_LINKER_FLAGS="$(flags LDFLAGS)" \
  >/dev/null
cmake --build "$build" -j2
rm -f "$build"/korvo_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/korvo_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single korvo_*.deb"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "$deb: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q libsigrokcxx || fail "the package does not depend on libsigrokcxx"
[ "$(basename "$deb")" = "korvo_${version}_$(dpkg --print-architecture).deb" ] || fail "file name $deb"

step "cpack refuses a build folder with another prefix"
# An ordinary build folder installs under /usr/local; its package would, too. Refused before
# anything is built or installed, with the prefix to configure.
other=$work/usr-local-build
cmake -S . -B "$other" -G Ninja -DKORVO_TESTS=OFF -DKORVO_BENCH=OFF >/dev/null
if refusal=$(cd "$other" && cpack -G DEB 2>&1); then
  fail "cpack made a package for the prefix /usr/local: $(ls "$other"/*.deb 2>/dev/null)"
fi
refusal=$(tr -s '[:space:]' ' ' <<<"$refusal")  # as one line, however CMake wraps it
grep -qF -- "-DCMAKE_INSTALL_PREFIX=/usr " <<<"$refusal" || fail "cpack's refusal names no prefix: $refusal"
compgen -G "$other/*.deb" >/dev/null && fail "cpack left a package behind after refusing"
echo "refused: $(grep -oE 'this build folder installs under /usr/local[^(]*' <<<"$refusal")"

# --- The package as built -------------------------------------------------------------------
step "lintian"
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

root=$work/root
dpkg-deb -x "$deb" "$root"
expected=(
  usr/bin/korvo usr/bin/korvoctl usr/lib/korvo/korvo-sigrok.so usr/lib/korvo/korvo-metrics.so
  usr/share/applications/com.rkx.korvo.desktop
  usr/share/metainfo/com.rkx.korvo.metainfo.xml
  usr/share/icons/hicolor/scalable/apps/com.rkx.korvo.svg
  usr/share/icons/hicolor/256x256/apps/com.rkx.korvo.png
  usr/share/man/man1/korvo.1.gz usr/share/man/man1/korvoctl.1.gz
  usr/share/bash-completion/completions/korvoctl
  usr/lib/udev/rules.d/70-korvo-i2c.rules
  usr/share/doc/korvo/copyright usr/share/doc/korvo/changelog.gz usr/share/doc/korvo/korvo.ini
  usr/lib/python3/dist-packages/korvo/__init__.py usr/lib/python3/dist-packages/korvo/__init__.pyi
)
for f in "${expected[@]}"; do [ -f "$root/$f" ] || fail "the package lacks /$f"; done

step "desktop entry, AppStream metainfo, icon"
desktop-file-validate "$root/usr/share/applications/com.rkx.korvo.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/com.rkx.korvo.metainfo.xml" ||
  fail "appstreamcli validate"
# PNG header: width, height (4 bytes each, big-endian), bit depth, colour type 6 = RGBA.
png=$root/usr/share/icons/hicolor/256x256/apps/com.rkx.korvo.png
read -r w h depth ctype < <(od -An -j16 -N10 -tu1 "$png" |
  awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8, $9, $10}')
[ "$w $h $depth $ctype" = "256 256 8 6" ] || fail "icon PNG is ${w}x${h}, depth $depth, colour type $ctype"

step "udev rule"
rule=$root/usr/lib/udev/rules.d/70-korvo-i2c.rules
[[ "70-korvo-i2c.rules" < "73-seat-late.rules" ]] || fail "the rule runs after uaccess is applied"
rules=$(grep -v '^#' "$rule" | grep -v '^$')
[ "$(wc -l <<<"$rules")" -eq 1 ] || fail "one rule expected in $rule"
for part in 'SUBSYSTEM=="i2c-dev"' 'SUBSYSTEMS=="usb"' 'TAG+="uaccess"'; do
  grep -qF "$part" <<<"$rules" || fail "$rule lacks $part"
done
grep -qE 'MODE|GROUP|OWNER' <<<"$rules" && fail "$rule changes more than the uaccess tag"

step "man pages"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $(basename "$page"): $warnings"
  MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q '^FILES' || fail "$(basename "$page") has no FILES section"
done

# korvoctl from the extracted tree; no settings file of the developer's may reach it.
export XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
korvoctl_x=$root/usr/bin/korvoctl

step "Python module"
compgen -G "$root/usr/lib/python3/dist-packages/korvo/_korvo.cpython-3*-linux-gnu.so" >/dev/null ||
  fail "the package lacks the korvo extension module"
got=$(PYTHONPATH=$root/usr/lib/python3/dist-packages /usr/bin/python3 -c \
  'import korvo; print(korvo.open("sim").read(0x15))') || fail "import korvo from the package"
[ "$got" = "16800" ] || fail "korvo from the package read $got"

step "bash completion"
# Completes the words of $1 (the last one possibly empty) and prints the candidates, one a line.
complete_line() {
  bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    read -ra COMP_WORDS <<<"$2"
    [[ $2 == *" " ]] && COMP_WORDS+=("")
    COMP_LINE=$2 COMP_POINT=${#2} COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _korvoctl korvoctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"' _ "$root/usr/share/bash-completion/completions/korvoctl" "$1"
}
expect_completion() {  # line, expected candidates (one a line, any order)
  local got
  got=$(complete_line "$1" | sort)
  [ "$got" = "$(sort <<<"$2")" ] || fail "completing '$1': got [$got], expected [$2]"
}
registers=$(KORVO_ADAPTER=sim "$korvoctl_x" dump | awk '{print $1}')
[ "$(wc -l <<<"$registers")" -eq 11 ] || fail "korvoctl dump: $registers"
expect_completion "korvoctl read " "$registers"
expect_completion "korvoctl --i2c write 0x1" "$(grep '^0x1' <<<"$registers")"
# The seven captions, as korvoctl names them when refusing an unknown one.
captions=$({ "$korvoctl_x" spin '?' 2>&1 || true; } | sed -n "s/.*expected one of //p" | sed "s/^'//; s/'$//; s/', '/\n/g")
[ "$(wc -l <<<"$captions")" -eq 7 ] || fail "spin captions: $captions"
expect_completion "korvoctl spin " "$captions"
printf '[SpinCustom 2]\r\n0x10=1\r\n[ spinrk51xx trim3 ]\n[Settings]\n' >"$work/spins.ini"
expect_completion "korvoctl --ini $work/spins.ini spin " $'rk51xx Trim3\nCustom 2'
expect_completion "korvoctl dump --format " $'text\ncsv\njson'
# Every operation and option that --help lists is offered.
help=$("$korvoctl_x" --help)
ops=$(awk '/^Operations/ {on=1; next} /^$/ {on=0} on && /^  [a-z]/ {print $1}' <<<"$help")
offered_ops=$(complete_line "korvoctl ")
for op in $ops; do grep -qx "$op" <<<"$offered_ops" || fail "completion lacks operation $op"; done
offered_opts=$(complete_line "korvoctl --")
# sigrok-cli's options that the help mentions are not korvoctl's.
for opt in $(sed 's/sigrok-cli --[a-z-]*//g' <<<"$help" | grep -oE -- '--[a-z0-9-]+' | sort -u); do
  grep -qx -- "$opt" <<<"$offered_opts" || fail "completion lacks option $opt"
done
echo "completes $(wc -w <<<"$ops") operations, $(wc -l <<<"$offered_opts") options, 11 registers, 7 captions"

step "cmake --install puts the same files in the same places"
DESTDIR=$work/cmake-root cmake --install "$build" >/dev/null
diff <(cd "$root" && find . -type f | sort) <(cd "$work/cmake-root" && find . -type f | sort) ||
  fail "cmake --install and the package differ"

# --- Installed ------------------------------------------------------------------------------
run_checks_from_path() {  # the programs as the PATH finds them
  local where
  where=$(command -v korvoctl)
  echo "korvoctl: $where"
  korvoctl --version | grep -qx "Settings file: none: defaults" || fail "korvoctl --version: $(korvoctl --version)"
  mkdir -p "$XDG_CONFIG_HOME/korvo"
  printf '[Target]\nAddress=103\n' >"$XDG_CONFIG_HOME/korvo/korvo.ini"
  korvoctl --version | grep -qx "Settings file: $XDG_CONFIG_HOME/korvo/korvo.ini" ||
    fail "korvoctl --version does not name the XDG file: $(korvoctl --version)"
  rm -r "$XDG_CONFIG_HOME/korvo"
  [ "$(KORVO_ADAPTER=sim korvoctl dump | wc -l)" -eq 11 ] || fail "korvoctl dump"
  # The instruments module, found in lib/korvo/ beside bin/.
  korvoctl --instrument 'demo channels=A0' instruments | grep -q '^  A0  demo A0 voltage ' ||
    fail "korvoctl instruments: $(korvoctl --instrument 'demo channels=A0' instruments 2>&1)"
  # The metrics module, found there too: one watch tick with the endpoint up.
  port=$((20000 + $$ % 10000))
  KORVO_ADAPTER=sim korvoctl --metrics "127.0.0.1:$port" --count 1 watch >/dev/null ||
    fail "korvoctl --metrics: $(KORVO_ADAPTER=sim korvoctl --metrics "127.0.0.1:$port" --count 1 watch 2>&1 >/dev/null)"
  # The window on the offscreen platform: its libraries and plugins are there.
  [ "$(QT_QPA_PLATFORM=offscreen KORVO_ADAPTER=sim KORVO_EXIT_WHEN_SHOWN=1 korvo 2>/dev/null)" = shown ] ||
    fail "korvo does not start"
}

if [ "$mode" = scratch ]; then
  step "korvoctl and korvo from the scratch tree"
  PATH=$root/usr/bin:$PATH run_checks_from_path
  echo "package-check: all checks passed (scratch tree; dpkg -i not tried)"
  exit 0
fi

step "dpkg -i"
if dpkg-query -W -f='${Status}' korvo 2>/dev/null | grep -q 'ok installed'; then
  fail "a korvo package is installed already: remove it first, or run with --scratch"
fi
# Another apt or dpkg may hold the lock for a while.
dpkg_retry() {
  local out
  for _ in $(seq 1 60); do
    if out=$("$@" 2>&1); then return 0; fi
    grep -qi 'lock' <<<"$out" || { echo "$out" >&2; return 1; }
    sleep 5
  done
  echo "$out" >&2
  return 1
}
installed=yes
dpkg_retry dpkg -i "$deb" || fail "dpkg -i"
dpkg-query -W -f='${Status}\n' korvo | grep -qx 'install ok installed' || fail "korvo is not installed"
mapfile -t files < <(dpkg -L korvo | while read -r f; do [ -f "$f" ] && echo "$f"; done)
echo "${#files[@]} files installed"
[ "$(command -v korvoctl)" = /usr/bin/korvoctl ] || fail "korvoctl is not /usr/bin/korvoctl on the PATH"
run_checks_from_path
bash -c 'source /usr/share/bash-completion/bash_completion; _completion_loader korvoctl; complete -p korvoctl' |
  grep -q _korvoctl || fail "bash-completion does not load the completion for korvoctl"
# udev reads the rule from where the package put it, and finds nothing wrong in it.
if [ -e /sys/class/net/lo ] && command -v udevadm >/dev/null; then
  udev=$(udevadm test --action=add /sys/class/net/lo 2>&1 | grep -F 70-korvo-i2c.rules | sort -u || true)
  [ "$udev" = "Reading rules file: /usr/lib/udev/rules.d/70-korvo-i2c.rules" ] || fail "udevadm test: $udev"
fi
if [ -f /usr/share/man/man1/korvoctl.1.gz ]; then
  [ "$(man -w korvoctl)" = /usr/share/man/man1/korvoctl.1.gz ] || fail "man -w korvoctl"
fi

step "dpkg -r"
dpkg_retry dpkg -r korvo || fail "dpkg -r"
installed=""
left=()
for f in "${files[@]}"; do [ -e "$f" ] && left+=("$f"); done
[ ${#left[@]} -eq 0 ] || fail "left behind: ${left[*]}"
[ ! -e /usr/share/doc/korvo ] || fail "/usr/share/doc/korvo is left behind"
dpkg-query -W -f='${Status}' korvo 2>/dev/null | grep -q 'ok installed' && fail "korvo is still installed"
echo "package-check: all checks passed (installed, used and removed: ${#files[@]} files)"
