#!/bin/bash
# Screenshots of the main window alone (the demo build), in English and in Chinese, with two simulated UPS cards
# (the first, selected, on mains failure with the shutdown counting down; the second normal), the selected card's
# details and its last 24 hours, and a few notifications; then of the event log dialog in English and of its save
# dialog in Chinese, driven with xdotool. The Chinese run then saves "events" with the CSV filter and checks that
# Documents/events.csv was written. Everything runs inside a network namespace of its own, so
# the program's trap port and the cards touch nothing outside. Needs root (for the namespace), Xvfb,
# ImageMagick's import, xdotool, snmpd/snmptrap, sqlite3, python3, a CJK font and the demo build in BIN_DIR
# (cmake --build build --target vigilex-demo).
#
#   screenshots.sh BIN_DIR OUT_DIR     e.g. screenshots.sh build/bin docs
#
# The chart needs a history the cards have not had time to make: the script seeds the database with 24 hours of
# minute samples and a few events of an earlier outage (tools/screenshot/seed-history) before the second start.
# The demo build records a due shutdown in a file instead of asking logind, and the system bus is out of reach
# as well, so nothing can power off.
set -euo pipefail

if [ "${VIGILEX_SHOT_NETNS:-}" != 1 ]; then
    exec env VIGILEX_SHOT_NETNS=1 unshare -n "$0" "$@"
fi

bin=$(cd "$1" && pwd)
[ -x "$bin/vigilex-demo" ] || { echo "screenshots: $bin/vigilex-demo is not built (cmake --build build --target vigilex-demo)" >&2; exit 1; }
out=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
upssim="$here/../upssim/upssim"
display=:${VIGILEX_SHOT_DISPLAY:-73}

ip link set lo up
work=$(mktemp -d)
xvfb_pid=
program_pid=
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
    python3 "$upssim" stop "$work/card1" >/dev/null 2>&1 || true
    python3 "$upssim" stop "$work/card2" >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done

python3 "$upssim" start "$work/card1" --listen udp:127.0.1.1:16201 --model "Smart-UPS 1500" >/dev/null
python3 "$upssim" start "$work/card2" --listen udp:127.0.1.2:16201 >/dev/null
python3 "$upssim" state "$work/card1" mains-failure >/dev/null


# A notification from a card's own address, as a real card sends it.
notify() { # FROM NUMBER
    snmptrap -v 2c -c public --clientaddr="$1" udp:127.0.0.1:162 '' "1.3.6.1.4.1.935.0.$2" >/dev/null
}

wait_for_program_exit() {
    for _ in $(seq 50); do kill -0 "$program_pid" 2>/dev/null || return 0; sleep 0.1; done
    kill -KILL "$program_pid" 2>/dev/null || true
}

shoot() { # LANGUAGE-INDEX NAME
    local dir="$work/$2"
    cp -r "$bin" "$dir"
    rm -f "$dir/cfg/vigilex.db" "$dir/cfg/settings.ini"
    rm -rf "$dir/log" "$dir/data"
    # A 30-minute condition after a mains failure, so that the countdown runs in the screenshot.
    printf '[system]\nlanguage=%s\npop_warning=false\n[shutdown]\nac_failed_time=30\n' "$1" >"$dir/cfg/settings.ini"
    # The save dialog opens in the documents folder of this throwaway home.
    export HOME="$work/home-$2"
    mkdir -p "$HOME/Documents"
    # A first run creates the database; then the two cards go in.
    (cd "$dir" && DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent exec ./vigilex-demo >/dev/null 2>&1) &
    program_pid=$!
    sleep 2
    kill -TERM "$program_pid"
    wait_for_program_exit
    for ip in 127.0.1.1 127.0.1.2; do
        sqlite3 "$dir/cfg/vigilex.db" \
            "insert into snmp_session(date, ip, port, version, community) values(strftime('%s','now'), '$ip', 16201, 0, 'public');"
    done
    python3 "$here/seed-history" "$dir/cfg/vigilex.db" 127.0.1.1 127.0.1.2
    (cd "$dir" && DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent exec ./vigilex-demo >/dev/null 2>&1) &
    program_pid=$!
    sleep 4
    notify 127.0.1.1 5    # code 6, on battery
    sleep 0.5
    notify 127.0.1.2 10   # code 11, self-test passed
    sleep 0.5
    notify 127.0.1.2 17   # code 18, room temperature normal
    # The details are read every ten seconds.
    sleep 9
    import -window root "$out/window-$2.png"
    # Without a window manager the focus is set directly; Ctrl+L opens the event log.
    local main
    main=$(xdotool search --onlyvisible --pid "$program_pid" --name 'SNMP Vigilex' | head -1)
    xdotool windowfocus --sync "$main" key --clearmodifiers ctrl+l
    sleep 1.5
    if [ "$2" = en ]; then
        import -window root "$out/logdialog-en.png"
    else
        local log x y
        log=$(xdotool search --onlyvisible --pid "$program_pid" --name '.' | grep -vx "$main" | tail -1)
        eval "$(xdotool getwindowgeometry --shell "$log" | grep -E '^[XY]=')"
        x=$((X + 377)) y=$((Y + 426)) # "Save as..." in the 600 x 450 dialog
        xdotool mousemove "$x" "$y" click 1
        sleep 1.5
        xdotool type --delay 50 events
        sleep 0.5
        import -window root "$out/filedialog-zh.png"
        xdotool key Return
        sleep 2
        if [ -s "$HOME/Documents/events.csv" ]; then
            echo "$2: the export wrote Documents/events.csv ($(wc -l <"$HOME/Documents/events.csv") lines)" >&2
        else
            echo "$2: the export did not write Documents/events.csv" >&2
        fi
    fi
    echo "$2: $(sqlite3 "$dir/cfg/vigilex.db" "select count(*) from snmp_event;") events stored" >&2
    [ -n "${VIGILEX_SHOT_LOG:-}" ] && cat "$dir"/log/*.log >&2
    kill -TERM "$program_pid"
    wait_for_program_exit
    program_pid=
}

shoot 0 en
shoot 1 zh
echo "screenshots: $out/window-en.png $out/window-zh.png $out/logdialog-en.png $out/filedialog-zh.png"
