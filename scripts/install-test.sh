#!/usr/bin/env bash
# Installs the Debian package on this machine as a lab's IT person would,
# tries the installed programs, and removes the package again:
#   - builds the package (scripts/package.sh, reusing the build tree);
#   - installs it with apt-get install ./orvanta_*.deb;
#   - runs the installed orvanta-run on the installed example against the
#     installed quorvin-sim on two free loopback ports;
#   - starts the installed window program offscreen for a moment;
#   - checks the man pages (man -w), the desktop entry and its icon;
#   - purges the package and checks that none of its files is left.
# Needs root or sudo; without either it says so and skips. The package is
# purged on every way out, so the machine is left as it was.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    sudo_cmd=(sudo -n)
  else
    echo "install-test: skipped: installing a package needs root or sudo without a password prompt"
    exit 0
  fi
fi
if dpkg-query -W -f='${Status}' orvanta 2>/dev/null | grep -q "install ok installed"; then
  echo "install-test: the package orvanta is already installed here; this test would replace it and" >&2
  echo "install-test: then remove it. Remove it first: apt-get purge orvanta" >&2
  exit 1
fi

package=$(bash scripts/package.sh | tail -n 1)
echo "install-test: built $package"

work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if dpkg-query -W -f='${Status}' orvanta 2>/dev/null | grep -q "installed"; then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 purge -y -qq orvanta >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "install-test: $*" >&2
  exit 1
}

# apt-get reads the file as its own user; a copy in a world-readable folder
# spares the warning about an unsandboxed download.
chmod 755 "$work"
cp "$package" "$work/"
if ! (cd "$work" && DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" \
      apt-get -o DPkg::Lock::Timeout=300 install -y -qq "./$(basename "$package")" >"$work/apt-install.log" 2>&1); then
  cat "$work/apt-install.log" >&2
  fail "apt-get install ./$(basename "$package") failed"
fi
version=$(dpkg-query -W -f='${Version}' orvanta)
echo "install-test: installed orvanta $version; Depends: $(dpkg-query -W -f='${Depends}' orvanta)"
installed_files=$(dpkg-query -L orvanta)

# The programs, from the search path, with the package's version.
for program in orvanta orvanta-run quorvin-sim; do
  [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not /usr/bin/$program"
done
[ "$(orvanta-run --version)" = "orvanta-run $version" ] || fail "orvanta-run --version: $(orvanta-run --version)"
[ "$(quorvin-sim --version)" = "quorvin-sim $version" ] || fail "quorvin-sim --version: $(quorvin-sim --version)"

# The installed example against the installed simulator on free ports.
example=/usr/share/orvanta/examples/protocol.cfg
[ -f "$example" ] || fail "$example is missing"
quorvin-sim --negotiation-port 0 --message-port 0 --port-file "$work/ports" \
  --transcript "$work/transcript.tsv" --quiet >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$work/ports" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.out" >&2; fail "quorvin-sim did not start"; }
  sleep 0.1
done
[ -s "$work/ports" ] || fail "quorvin-sim did not open its ports within 10 s"
ports=$(cat "$work/ports")  # quorvin-sim listening negotiation=PORT message=PORT
negotiation_port=${ports#*negotiation=}
negotiation_port=${negotiation_port%% *}
message_port=${ports#*message=}
status=0
(cd "$work" && orvanta-run --server 127.0.0.1 --negotiation-port "$negotiation_port" \
  --message-port "$message_port" --quiet --timeline timeline.csv "$example") \
  >"$work/run.out" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  cat "$work/run.out" >&2
  fail "the installed orvanta-run ended with status $status"
fi
grep -q "orvanta-run: verdict: completed" "$work/run.out" || { cat "$work/run.out" >&2; fail "the run did not complete"; }
grep -q "End Trial #" "$work/OrvantaLogFile.txt" || fail "the log shows no trial"
rows=$(($(wc -l <"$work/timeline.csv") - 1))
received=$(grep -c $'\tcmd\t' "$work/transcript.tsv" || true)
[ "$rows" -gt 0 ] || fail "the timeline has no rows"
[ "$received" -ge "$rows" ] || fail "the simulator received $received commands, the timeline shows $rows"
echo "install-test: the installed example ran: $rows trial commands sent, $received commands received"

# The Python module, for Debian's python3, from the installed package (not
# from a build tree), against the installed simulator.
(cd "$work" && env -u PYTHONPATH /usr/bin/python3 - "$example" "$negotiation_port" "$message_port" <<'EOF_PY'
import sys
import orvanta
assert orvanta.__file__.startswith("/usr/lib/python3/dist-packages/orvanta/"), orvanta.__file__
setup = orvanta.Setup.load(sys.argv[1])
with orvanta.Client("127.0.0.1", negotiation_port=int(sys.argv[2]),
                    message_port=int(sys.argv[3])) as client:
    assert client.send("-LogMessage install-test 1").replied
print("install-test: the installed Python module %s loaded the example (%d trials) and talked to "
      "the simulator" % (orvanta.__version__, setup.number_of_trials))
EOF_PY
) >"$work/python.out" 2>&1 || { cat "$work/python.out" >&2; fail "the installed Python module does not work"; }
cat "$work/python.out"
kill -TERM "$sim_pid" && wait "$sim_pid" || fail "quorvin-sim did not end cleanly on SIGTERM"
sim_pid=

# The window program starts (its Qt libraries and platform plugins are
# there) and opens its log; it is ended after two seconds.
status=0
(cd "$work" && mkdir window && cd window && QT_QPA_PLATFORM=offscreen timeout 2 orvanta) \
  >"$work/window.out" 2>&1 || status=$?
if [ "$status" -ne 124 ] || [ ! -s "$work/window/OrvantaLogFile.txt" ]; then
  cat "$work/window.out" >&2
  fail "the installed window program did not stay up (status $status) or wrote no log"
fi

# Man pages, desktop entry and icons.
for page in orvanta orvanta-run quorvin-sim; do
  path=$(man -w "$page") || fail "man -w $page finds no page"
  [ "$path" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page: $path"
done
grep -q "/usr/share/orvanta/examples/protocol.cfg" <(man -P cat orvanta-run 2>/dev/null) ||
  fail "the orvanta-run man page does not name the installed example"
entry=/usr/share/applications/orvanta.desktop
desktop-file-validate "$entry" || fail "$entry does not validate"
grep -qx "Exec=orvanta" "$entry" || fail "$entry does not start orvanta"
[ -f /usr/share/icons/hicolor/scalable/apps/orvanta.svg ] || fail "the scalable icon is missing"
[ -f /usr/share/icons/hicolor/256x256/apps/orvanta.png ] || fail "the 256x256 icon is missing"
[ -f /usr/share/bash-completion/completions/orvanta-run ] || fail "the orvanta-run completion is missing"
echo "install-test: man pages, desktop entry, icons and completion are in place"

# Remove the package; nothing of it may be left.
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 purge -y -qq orvanta >"$work/apt-purge.log" 2>&1 ||
  { cat "$work/apt-purge.log" >&2; fail "apt-get purge orvanta failed"; }
left=()
while read -r path; do
  [ -n "$path" ] || continue
  if [ -d "$path" ]; then
    # Folders shared with other packages stay; the package's own must go.
    case $path in
      /usr/share/orvanta* | /usr/share/doc/orvanta*) left+=("$path") ;;
    esac
  elif [ -e "$path" ] || [ -L "$path" ]; then
    left+=("$path")
  fi
done <<<"$installed_files"
if [ ${#left[@]} -gt 0 ]; then
  printf 'install-test: left behind after purge: %s\n' "${left[@]}" >&2
  exit 1
fi
echo "install-test: orvanta $version installed, ran and was purged without leaving files"
