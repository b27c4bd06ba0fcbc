# A PulseAudio server of our own for live-sound checks: one null sink at 48 kHz, the native
# protocol, no configuration files, in a private runtime directory. Sourced by bash scripts:
#   start_pulse_server DIR   exports XDG_RUNTIME_DIR and HOME under DIR; sets pulse_server_pid
#   stop_pulse_server        stops it, by its pid; safe to call twice (an EXIT trap calls it)

pulse_server_pid=

start_pulse_server() {
    local dir=$1
    local tool
    for tool in pulseaudio pactl parec; do
        command -v "$tool" >/dev/null && continue
        echo "$tool is not installed (Debian packages pulseaudio, pulseaudio-utils)" >&2
        return 77
    done
    mkdir -p "$dir/home"
    # The server keeps its socket there and refuses a directory others can enter.
    mkdir -p "$dir/runtime"
    chmod 700 "$dir/runtime"
    export XDG_RUNTIME_DIR=$dir/runtime HOME=$dir/home
    unset PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_LATENCY_MSEC
    # Should the script be killed outright, the kernel sends the server SIGTERM (setpriv).
    setpriv --pdeathsig TERM -- pulseaudio -n --daemonize=no --exit-idle-time=-1 \
        --use-pid-file=no --log-target=file:"$dir/server.log" \
        -L "module-null-sink sink_name=vesk_test rate=48000" -L "module-native-protocol-unix" &
    pulse_server_pid=$!
    local tries
    for tries in $(seq 100); do
        pactl info >/dev/null 2>&1 && return 0
        if ! kill -0 "$pulse_server_pid" 2>/dev/null; then
            echo "pulseaudio did not start:" >&2
            cat "$dir/server.log" >&2
            pulse_server_pid=
            return 1
        fi
        sleep 0.1
    done
    echo "pulseaudio did not answer within 10 s" >&2
    return 1
}

stop_pulse_server() {
    [ -n "$pulse_server_pid" ] || return 0
    kill "$pulse_server_pid" 2>/dev/null || true
    wait "$pulse_server_pid" 2>/dev/null || true
    pulse_server_pid=
}
