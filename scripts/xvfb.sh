# Sourced by the scripts that need an X display for Wine's windows.
# start_xvfb WIDTHxHEIGHT: starts Xvfb on the first free display, exports
# DISPLAY and sets xvfb_pid for the caller's clean-up; fails after 10 s.
start_xvfb() {
    display=90
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -nolisten tcp -screen 0 "${1}x24" >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$display"
    tries=0
    while [ ! -e "/tmp/.X11-unix/X$display" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ]; then
            echo "Xvfb did not start" >&2
            return 1
        fi
        sleep 0.1
    done
}
