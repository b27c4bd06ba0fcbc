# A PipeWire server of our own, set up as a desktop runs it: pipewire, WirePlumber to link the
# streams, and pipewire-pulse for PulseAudio's clients, with one null sink at 48 kHz, on a
# private session bus in a private runtime directory. Sourced by bash scripts:
#   start_pipewire_server DIR   exports XDG_RUNTIME_DIR, HOME, XDG_CONFIG_HOME and the bus
#                               address under DIR
#   stop_pipewire_server        stops it, by its pids; safe to call twice (an EXIT trap calls it)
#   restart_pipewire_server     kills pipewire, WirePlumber and pipewire-pulse outright, as a
#                               crash does, and starts them again where they were
# pipewire_daemon_pid is the graph's own process, pipewire.

pipewire_pids=()

start_pipewire_server() {
    local dir=$1
    local tool
    for tool in pipewire pipewire-pulse wireplumber dbus-daemon pactl parec; do
        command -v "$tool" > /dev/null && continue
        echo "$tool is not installed (Debian packages pipewire, pipewire-pulse, wireplumber," \
            "dbus, pulseaudio-utils)" >&2
        return 77
    done
    mkdir -p "$dir/home" "$dir/config/pipewire/pipewire.conf.d" "$dir/runtime"
    chmod 700 "$dir/runtime"
    export XDG_RUNTIME_DIR=$dir/runtime HOME=$dir/home XDG_CONFIG_HOME=$dir/config
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/runtime/bus
    unset PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_LATENCY_MSEC PIPEWIRE_REMOTE PIPEWIRE_LATENCY
    # The sink every stream is linked to: nothing else is there to choose.
    cat > "$dir/config/pipewire/pipewire.conf.d/vesk-null-sink.conf" << 'EOF'
context.objects = [
    { factory = adapter
        args = {
            factory.name   = support.null-audio-sink
            node.name      = vesk_test
            media.class    = Audio/Sink
            audio.position = [ MONO ]
            audio.rate     = 48000
            object.linger  = true
        }
    }
]
EOF
    # Should the script be killed outright, the kernel sends each of them SIGTERM (setpriv).
    setpriv --pdeathsig TERM -- dbus-daemon --session --nofork --nopidfile \
        --address="$DBUS_SESSION_BUS_ADDRESS" > "$dir/dbus.log" 2>&1 &
    pipewire_pids+=($!)
    pipewire_dir=$dir
    start_pipewire_daemons
}

start_pipewire_daemons() {
    local dir=$pipewire_dir
    local program tries
    for program in pipewire wireplumber pipewire-pulse; do
        setpriv --pdeathsig TERM -- "$program" >> "$dir/$program.log" 2>&1 &
        pipewire_pids+=($!)
        [ "$program" = pipewire ] && pipewire_daemon_pid=$!
        # The other two connect to pipewire's socket, and give up if it is not there yet.
        for tries in $(seq 100); do
            [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break
            sleep 0.1
        done
    done
    for tries in $(seq 100); do
        # Ready once the pulse server answers and WirePlumber has made our sink the default.
        if pactl info 2> /dev/null | grep -qx 'Default Sink: vesk_test'; then
            return 0
        fi
        local pid
        for pid in "${pipewire_pids[@]}"; do
            kill -0 "$pid" 2> /dev/null && continue
            echo "the PipeWire server did not start:" >&2
            tail -n 5 "$dir"/*.log >&2
            stop_pipewire_server
            return 1
        done
        sleep 0.1
    done
    echo "the PipeWire server did not answer within 10 s" >&2
    tail -n 5 "$dir"/*.log >&2
    return 1
}

restart_pipewire_server() {
    # The session bus is the first; the rest go as a crash takes them.
    local pid
    for pid in "${pipewire_pids[@]:1}"; do kill -KILL "$pid" 2> /dev/null || true; done
    for pid in "${pipewire_pids[@]:1}"; do wait "$pid" 2> /dev/null || true; done
    pipewire_pids=("${pipewire_pids[0]}")
    rm -f "$XDG_RUNTIME_DIR"/pipewire-0*
    start_pipewire_daemons
}

stop_pipewire_server() {
    local pid
    for pid in "${pipewire_pids[@]}"; do kill "$pid" 2> /dev/null || true; done
    for pid in "${pipewire_pids[@]}"; do wait "$pid" 2> /dev/null || true; done
    pipewire_pids=()
}
