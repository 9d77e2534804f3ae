#!/bin/sh
# A private PulseAudio server for the capture tests.
#
#   pulse-server.sh start DIR   starts a user-mode daemon with everything in DIR:
#                               its socket DIR/native (anonymous clients), one
#                               null sink per format the tests use, named
#                               tamblo_<rate>_<channels>, volumes at 100 %, a
#                               client.conf without autospawn and an ALSA
#                               configuration whose "default" PCM is PulseAudio.
#                               Where it cannot start, DIR/skip says why.
#   pulse-server.sh stop DIR    stops every daemon started under DIR, then removes DIR.
#
# Runs as root too (PulseAudio warns, and works).
set -u
cmd=${1:-}; dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

stop_all() {
  for pidfile in $(find "$1" -name pid -path '*/pulse/pid' 2>/dev/null); do
    pid=$(cat "$pidfile" 2>/dev/null) || continue
    [ -n "$pid" ] || continue
    kill -CONT "$pid" 2>/dev/null   # a test may have left it frozen
    kill -TERM "$pid" 2>/dev/null
    i=0; while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
    kill -KILL "$pid" 2>/dev/null
  done
}

if [ "$cmd" = stop ]; then
  [ -d "$dir" ] && stop_all "$dir"
  rm -rf "$dir"
  exit 0
fi
[ "$cmd" = start ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

stop_all "$dir"
rm -rf "$dir"
mkdir -p "$dir/home" "$dir/run" "$dir/config" || exit 1
chmod 700 "$dir/run"
skip() { echo "$*" > "$dir/skip"; echo "no PulseAudio server for the capture tests: $*"; exit 0; }

command -v pulseaudio >/dev/null || skip "pulseaudio is not installed (Debian package pulseaudio)"
command -v pactl >/dev/null || skip "pactl is not installed (Debian package pulseaudio-utils)"
command -v pacat >/dev/null || skip "pacat is not installed (Debian package pulseaudio-utils)"
ls /usr/lib/*/alsa-lib/libasound_module_pcm_pulse.so >/dev/null 2>&1 ||
  skip "ALSA's pulse plugin is not installed (Debian package libasound2-plugins)"

{
  echo "load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native"
  for f in 16000_1 16000_2 44100_1 44100_2 48000_1 48000_2; do
    echo "load-module module-null-sink sink_name=tamblo_$f format=s16le rate=${f%_*} channels=${f#*_}"
  done
  echo "set-default-sink tamblo_48000_2"
  echo "set-default-source tamblo_48000_2.monitor"
} > "$dir/default.pa"
printf 'autospawn = no\ndefault-server = unix:%s/native\n' "$dir" > "$dir/client.conf"
printf '</usr/share/alsa/alsa.conf>\npcm.!default { type pulse }\nctl.!default { type pulse }\n' > "$dir/asound.conf"

HOME=$dir/home XDG_RUNTIME_DIR=$dir/run XDG_CONFIG_HOME=$dir/config PULSE_CLIENTCONFIG=$dir/client.conf \
  pulseaudio -n --daemonize=yes --exit-idle-time=-1 --use-pid-file=yes -F "$dir/default.pa" \
  --log-target=file:"$dir/log" >"$dir/start.log" 2>&1 ||
  skip "pulseaudio did not start: $(tail -n 3 "$dir/start.log" "$dir/log" 2>/dev/null | tr '\n' ' ')"

export PULSE_SERVER=unix:$dir/native PULSE_CLIENTCONFIG=$dir/client.conf
i=0; until pactl info >/dev/null 2>&1; do
  i=$((i + 1)); [ $i -lt 50 ] || skip "the server does not answer on $dir/native"; sleep 0.1
done
for f in 16000_1 16000_2 44100_1 44100_2 48000_1 48000_2; do
  pactl set-sink-volume tamblo_$f 100% && pactl set-source-volume tamblo_$f.monitor 100% ||
    skip "cannot set the volumes of tamblo_$f"
done
echo "PulseAudio server in $dir (pid $(cat "$dir/run/pulse/pid" 2>/dev/null))"
