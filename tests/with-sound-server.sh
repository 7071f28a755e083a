#!/usr/bin/env bash
# Runs a command with a sound server: the one already running, or a private
# PulseAudio with a null sink that is stopped when the command ends. Playback
# tests then play for real without a speaker.
set -u
if command -v pactl >/dev/null && pactl info >/dev/null 2>&1; then
  exec "$@"
fi
if ! command -v pulseaudio >/dev/null; then
  echo "with-sound-server: pulseaudio is not installed; playback tests will fail" >&2
  exec "$@"
fi
dir=$(mktemp -d /tmp/mx-sound.XXXXXX)
mkdir -p "$dir/runtime"
# A user-mode server even as root; its state stays in the folder.
HOME=$dir XDG_RUNTIME_DIR=$dir/runtime XDG_CONFIG_HOME=$dir pulseaudio --daemonize=no --exit-idle-time=-1 \
  --system=false -n --use-pid-file=no --log-target=file:"$dir/server.log" \
  -L "module-null-sink sink_name=mx_null" \
  -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/native" &
server=$!
export PULSE_SERVER=unix:$dir/native
for _ in $(seq 50); do
  [ -S "$dir/native" ] && break
  sleep 0.1
done
[ -S "$dir/native" ] || echo "with-sound-server: the server did not start (see $dir/server.log)" >&2
"$@"
rc=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
rm -rf "$dir"
exit $rc
