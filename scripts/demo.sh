#!/usr/bin/env bash
# Shows the whole road of a release on this machine: build, publish version
# 2.0.0.0 of the demo application with the release tool, serve it with nginx
# from the deployment template, and let the real updater update a folder
# holding version 1.0.0.0 under Wine, taking screenshots on the way.
set -euo pipefail
cd "$(dirname "$0")/.."
repository=$PWD

scripts/install_deps.sh
cmake --preset test
cmake --build --preset test

build=$repository/build/test
support=$build/tests/support
demo=$repository/build/demo
prefix=$demo/wineprefix
wine_run=$demo/wine-run
port=$(sed -n 's/^NIRVA_TEST_PORT:[A-Z]*=//p' "$build/CMakeCache.txt")
version=2.0.0.0
package_path=/packages/$version/nirva.zip
# The test build trusts only this throwaway key and asks 127.0.0.1 on the test port.
cert=$build/test-keys/pinned.crt
key=$build/test-keys/pinned.key

xvfb_pid=""
nginx_pid=""
updater_pid=""
server_dir=""
cleanup() {
    if [ -d "$prefix" ]; then
        WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    fi
    if [ -n "$updater_pid" ]; then
        wait "$updater_pid" 2>/dev/null || true
    fi
    if [ -n "$nginx_pid" ]; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    if [ -n "$server_dir" ]; then
        rm -rf "$server_dir"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

fail() {
    echo "demo: $*" >&2
    exit 1
}

step() {
    printf '\n== %s\n' "$*"
}

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
    local tenths=$1
    shift
    until "$@"; do
        tenths=$((tenths - 1))
        [ "$tenths" -gt 0 ] || return 1
        sleep 0.1
    done
}

rm -rf "$demo/release" "$demo/out" "$demo/office" "$demo/screenshots" "$demo/app-starts.jsonl"
mkdir -p "$demo/release/data" "$demo/out" "$demo/office/NIRVA" "$demo/screenshots"

step "X display"
. scripts/xvfb.sh
start_xvfb 1024x768 || fail "Xvfb did not start"
echo "Xvfb on $DISPLAY"

step "Wine prefix of the demo: $prefix"
# Its own prefix, so the font below never reaches the tests' prefix.
sed "s|^export WINEPREFIX=.*|export WINEPREFIX=\"$prefix\"|" "$build/wine-run" >"$wine_run"
chmod +x "$wine_run"
# Wine has no Windows PowerShell; the build's stand-in really extracts the package.
sh tests/support/prepare_wineprefix.sh "$wine_run" "$support/powershell.exe"
# Wine's own Tahoma has no Arabic script: the Persian texts would show as boxes.
# The window asks for Tahoma; message boxes for "MS Shell Dlg", which Wine maps
# to Tahoma without following a second substitution.
persian_font=$(fc-list :lang=fa family | cut -d, -f1 | grep -v Mono | sort -u | head -n 1 || true)
if [ -n "$persian_font" ]; then
    for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2"; do
        "$wine_run" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
            /v "$face" /t REG_SZ /d "$persian_font" /f >/dev/null
    done
    echo "Tahoma and the dialog font are drawn with $persian_font in this prefix"
else
    echo "No font with Persian glyphs found (fonts-dejavu-core has them): the window's text shows boxes"
fi

step "Publishing version $version with the release tool"
cp "$support/nirva_acc_2000.exe" "$demo/release/nirva_acc.exe"
printf 'code,name\n1101,صندوق\n1102,بانک\n' >"$demo/release/data/chart-of-accounts.csv"
printf '%s\n' "نسخه دوم نیروا" "گزارش‌های تازه و چاپ سریع‌تر فاکتور" >"$demo/notes.txt"
python3 tools/release/nirva_release.py "$demo/release" --version "$version" --notes "$demo/notes.txt" \
    --url "https://updates.example$package_path" --out "$demo/out" --mandatory
echo "--- manifest.json"
cat "$demo/out/manifest.json"
echo

step "Serving it with nginx on 127.0.0.1:$port"
# Started as root, nginx's workers run as nobody: the served folder must be readable by anyone.
server_dir=$(mktemp -d /tmp/nirva-demo-server.XXXXXX)
chmod 755 "$server_dir"
www=$server_dir/www
mkdir -p "$www/packages/$version" "$server_dir/nginx"
cp "$demo/out/nirva.zip" "$www$package_path"
cp "$demo/out/manifest.json" "$www/manifest.json.new"
mv "$www/manifest.json.new" "$www/manifest.json"
python3 deploy/nginx/render.py "$www" --cert "$cert" --key "$key" --listen "127.0.0.1:$port" \
    --standalone -o "$server_dir/nginx/nginx.conf"
# Only the demo sends packages slowly, so that the download can be watched.
sed -i 's|^\( *\)location ^~ /packages/ {$|&\n\1    limit_rate 32k;|' "$server_dir/nginx/nginx.conf"
grep -q 'limit_rate 32k;' "$server_dir/nginx/nginx.conf" || fail "the package location was not found in the configuration"
/usr/sbin/nginx -p "$server_dir/nginx" -c nginx.conf -e stderr -g 'daemon off;' &
nginx_pid=$!
# nginx writes its pid file once it listens; a busy port ends it instead.
nginx_ready() { [ -e "$server_dir/nginx/nginx.pid" ] || ! kill -0 "$nginx_pid" 2>/dev/null; }
wait_for 300 nginx_ready || fail "nginx did not start"
[ -e "$server_dir/nginx/nginx.pid" ] || fail "nginx could not listen on 127.0.0.1:$port (is a test server running?)"
echo "nginx serves $www (packages at 32 KB/s)"

step "The office folder before the update"
cp "$build/nirva_updater.exe" "$demo/office/"
cp "$support/nirva_acc_1000.exe" "$demo/office/NIRVA/nirva_acc.exe"
(cd "$demo/office" && find . -mindepth 1 | sort)

# Prints the progress position and the rectangle (left top right bottom) that
# holds the updater's visible window and the message boxes over it.
updater_window() {
    local dump=$demo/windows.json
    rm -f "$dump"
    "$wine_run" "$support/ui_probe.exe" dump "$dump" >/dev/null 2>&1 && [ -s "$dump" ] || return 1
    python3 - "$dump" <<'EOF'
import json
import sys

windows = [w for w in json.load(open(sys.argv[1], encoding="utf-8")) if w["visible"]]
main = next((w for w in windows if w["class"] == "NIRVAUpdater"), None)
if main is None:
    sys.exit(1)
position = next(c["pos"] for c in main["children"] if c["class"].lower() == "msctls_progress32")
rects = [w["window_rect"] for w in windows if w is main or w["class"] == "#32770"]
print(position, min(r[0] for r in rects), min(r[1] for r in rects),
      max(r[2] for r in rects), max(r[3] for r in rects))
EOF
}

# Screenshot of the updater's window when the progress bar is within [$2, $3].
screenshot_when() {
    local name=$1 low=$2 high=$3 position left top right bottom
    while kill -0 "$updater_pid" 2>/dev/null; do
        if read -r position left top right bottom < <(updater_window) &&
            [ "$position" -ge "$low" ] && [ "$position" -le "$high" ]; then
            import -display "$DISPLAY" -window root \
                -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$demo/screenshots/$name"
            echo "screenshots/$name at $position %"
            return 0
        fi
        sleep 0.2
    done
    echo "the updater ended before the screenshot $name"
}

step "Running the updater under Wine in $demo/office"
# The demo application keeps a window open, so that the finished state shows it running.
(cd "$demo/office" && NIRVA_FAKE_RECORD="$demo/app-starts.jsonl" NIRVA_FAKE_MODE=window \
    exec "$wine_run" nirva_updater.exe) \
    >/dev/null 2>&1 &
updater_pid=$!
screenshot_when 1-downloading.png 30 80
screenshot_when 2-downloaded-installing.png 100 100
status=0
wait "$updater_pid" || status=$?
updater_pid=""
[ "$status" -eq 0 ] || fail "the updater ended with exit code $status"
echo "the updater ended with exit code 0"
wait_for 300 test -s "$demo/app-starts.jsonl" || fail "the new application did not start"
application_window_shown() {
    "$wine_run" "$support/ui_probe.exe" dump "$demo/windows.json" >/dev/null 2>&1 &&
        grep -q '"NirvaFakeApp"' "$demo/windows.json"
}
wait_for 300 application_window_shown || fail "the new application shows no window"
read -r left top right bottom < <(python3 -c '
import json, sys
app = next(w for w in json.load(open(sys.argv[1], encoding="utf-8")) if w["class"] == "NirvaFakeApp")
print(*app["window_rect"])' "$demo/windows.json")
import -display "$DISPLAY" -window root \
    -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$demo/screenshots/3-finished.png"
echo "screenshots/3-finished.png: the updater is gone, version $version runs"

step "The office folder after the update"
(cd "$demo/office" && find . -mindepth 1 | sort)
step "Start record of the application"
cat "$demo/app-starts.jsonl"
step "Screenshots"
echo "$demo/screenshots"
