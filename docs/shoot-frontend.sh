#!/bin/bash
# Screenshots of the window as the service's front end, in English and in Chinese: vigilex-service and the
# window on a private system bus (a dbus-daemon of its own), two simulated cards (one on mains failure), in a
# network namespace of its own; then the service stops and each window says so. Needs root (the namespace),
# Xvfb, ImageMagick's import, snmptrap, sqlite3 and a CJK font. Nothing can power off: logind is not on that bus.
#
#   docs/shoot-frontend.sh BIN_DIR OUT_DIR     e.g. docs/shoot-frontend.sh build/bin docs
set -euo pipefail
if [ "${FE_NETNS:-}" != 1 ]; then exec env FE_NETNS=1 unshare -n "$0" "$@"; fi
bin=$(cd "$1" && pwd); out=$(mkdir -p "$2" && cd "$2" && pwd)
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd); upssim="$src/tools/upssim/upssim"
ip link set lo up
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  python3 "$upssim" stop "$work/card1" >/dev/null 2>&1 || true; python3 "$upssim" stop "$work/card2" >/dev/null 2>&1 || true
  rm -rf "$work"; }
trap cleanup EXIT
Xvfb :74 -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
export DISPLAY=:74
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN" "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:path=$work/bus</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/><allow user="*"/></policy></busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork >/dev/null 2>&1 & pids+=($!)
sleep 0.5
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus
python3 "$upssim" start "$work/card1" --listen udp:127.0.1.1:16201 >/dev/null
python3 "$upssim" start "$work/card2" --listen udp:127.0.1.2:16201 >/dev/null
python3 "$upssim" state "$work/card2" mains-failure >/dev/null
svc="$work/svc"; cp -r "$bin" "$svc"; rm -f "$svc/cfg/vigilex.db" "$svc/cfg/settings.ini"; rm -rf "$svc/log" "$svc/data"
printf '[system]\npop_warning=false\n[shutdown]\nac_failed_time=30\nbatt_low_time=5\nac_failed_capacity=20\n' >"$svc/cfg/settings.ini"
(cd "$svc" && exec ./vigilex-service >"$work/svc1.log" 2>&1) & sp=$!; sleep 2; kill -TERM $sp; wait $sp || true
for ip in 127.0.1.1 127.0.1.2; do
  sqlite3 "$svc/cfg/vigilex.db" "insert into snmp_session(date, ip, port, version, community) values(strftime('%s','now'), '$ip', 16201, 0, 'public');"
done
# A day of history for the chart of the selected card (see tools/screenshot/seed-history).
python3 "$src/tools/screenshot/seed-history" "$svc/cfg/vigilex.db" 127.0.1.1 127.0.1.2
(cd "$svc" && exec ./vigilex-service >"$work/svc.log" 2>&1) & sp=$!; pids+=($sp)
sleep 3
shoot() { # LANG NAME
  local dir="$work/win-$2"; cp -r "$bin" "$dir"; rm -f "$dir/cfg/vigilex.db"
  printf '[system]\nlanguage=%s\npop_warning=false\n' "$1" >"$dir/cfg/settings.ini"
  export HOME="$work/home-$2"; mkdir -p "$HOME"
  (cd "$dir" && exec ./vigilex >"$work/win-$2.log" 2>&1) & wp=$!
  sleep 4
  snmptrap -v 2c -c public --clientaddr=127.0.1.2 udp:127.0.0.1:162 '' 1.3.6.1.4.1.935.0.5 >/dev/null 2>&1 || true
  sleep 2
  import -window root "$out/frontend-$2.png"
  echo "$2 window log:"; grep -i "front end\|alone" "$work/win-$2.log" | head -3 || true; cat "$dir"/log/*.log 2>/dev/null | grep -i "front end" | head -2 || true
  kill -TERM $wp; wait $wp 2>/dev/null || true
}
shoot 0 en
shoot 1 zh
# The service stops: each window says so.
kill -TERM $sp; wait $sp 2>/dev/null || true
# A window started while the service runs, then the service stops.
stopped() { # LANG NAME
  local dir="$work/win-$2"
  printf '[system]\nlanguage=%s\npop_warning=false\n' "$1" >"$dir/cfg/settings.ini"
  (cd "$svc" && exec ./vigilex-service >>"$work/svc.log" 2>&1) & sp=$!
  sleep 3
  (cd "$dir" && exec ./vigilex >"$work/stopped-$2.log" 2>&1) & wp=$!
  sleep 4
  kill -TERM $sp; wait $sp 2>/dev/null || true
  sleep 2
  import -window root "$out/frontend-stopped-$2.png"
  kill -TERM $wp; wait $wp 2>/dev/null || true
}
stopped 0 en
stopped 1 zh
tail -5 "$work/svc.log"
