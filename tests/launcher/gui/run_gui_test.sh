#!/usr/bin/env bash
# The launcher's end-to-end test (and the demo of scripts/run): lays out a fresh folder with the
# launcher, the stand-in programs and the example tunnel configurations, runs the driver under Wine in
# a virtual desktop of the current X display, and answers the driver's screenshot requests with
# ImageMagick, checking the pixels it names. Needs DISPLAY (run it under xvfb-run) and WINEPREFIX.
#   run_gui_test.sh LAUNCHER_EXE STANDIN_DIR DRIVER_EXE CONFIG_DIR OUT_DIR [demo]
# Exit code 0 when every check passed. Screenshots stay in OUT_DIR/shots.
set -euo pipefail

launcher=$1 standins=$2 driver=$3 configs=$4 out=$5 mode=${6:-test}
limit=${BROL_GUI_LIMIT:-240}   # seconds for the whole run
desktop_size=1024x768

: "${DISPLAY:?run under xvfb-run or another X display}"
rm -rf "$out"
mkdir -p "$out/app" "$out/elsewhere" "$out/shots"
cp "$launcher" "$standins/stunnel.exe" "$standins/winvnc_QARU_RC23.exe" "$configs"/stunnel[1-4].conf "$out/app/"
cp "$driver" "$out/driver.exe"
# The DLL that a scenario plants beside the launcher and its control program, built beside the driver.
for extra in planted.dll load_by_name.exe; do
  [ -f "$(dirname "$driver")/$extra" ] && cp "$(dirname "$driver")/$extra" "$out/"
done
shots=$out/shots

winpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }

# One screenshot request: NAME.req holds "crop X Y W H" and the checks (see the driver).
answer_request() {
  local request=$1 name full verdicts kind x y w h expected label got dark iw ih
  name=$(basename "$request" .req)
  full="$shots/$name.full.png"
  import -window root "$full"
  verdicts=""
  while read -r kind x y w h label; do
    case $kind in
      crop) convert "$full" -crop "${w}x${h}+${x}+${y}" +repage "$shots/$name.png" ;;
      pixel)
        expected=$w label="$h $label"
        got=$(convert "$full" -format "%[hex:p{$x,$y}]" info: | cut -c1-6)
        if [ "$got" = "$expected" ]; then verdicts+="ok $label (#$got at $x,$y)"$'\n'
        else verdicts+="bad $label: #$got at $x,$y, expected #$expected"$'\n'; fi ;;
      ink)
        dark=$(convert "$full" -crop "${w}x${h}+${x}+${y}" +repage -colorspace gray -format '%[fx:minima.r<0.5]' info:)
        if [ "$dark" = 1 ]; then verdicts+="ok $label"$'\n'; else verdicts+="bad $label: nothing dark in ${w}x${h}+$x+$y"$'\n'; fi ;;
      inkbox)
        read -r iw ih label <<<"$label"
        got=$(convert "$full" -crop "${w}x${h}+${x}+${y}" +repage -colorspace gray -threshold 50% -trim -format '%w %h' info: 2>/dev/null)
        if [ "${got% *}" -ge $((iw - 1)) ] && [ "${got% *}" -le $((iw + 1)) ] && [ "${got#* }" -ge $((ih - 1)) ] && [ "${got#* }" -le $((ih + 1)) ]
        then verdicts+="ok $label (ink $got, drawn here $iw $ih)"$'\n'
        else verdicts+="bad $label: ink $got, expected $iw $ih"$'\n'; fi ;;
    esac
  done < "$request"
  rm -f "$full" "$request"
  printf '%s' "$verdicts" > "$shots/$name.ack.tmp"
  mv "$shots/$name.ack.tmp" "$shots/$name.ack"
}

started=$SECONDS
args=("$(winpath "$out/app")" "$(winpath "$out/elsewhere")" "$(winpath "$shots")")
[ "$mode" = demo ] && args+=(demo)
(cd "$out/elsewhere" && exec wine explorer "/desktop=brolgui$$,$desktop_size" "$(winpath "$out/driver.exe")" "${args[@]}") \
  >"$out/wine.out" 2>&1 &
wine_pid=$!

while [ ! -f "$shots/result.txt" ] && [ $((SECONDS - started)) -lt "$limit" ]; do
  for request in "$shots"/*.req; do
    [ -e "$request" ] && answer_request "$request"
  done
  sleep 0.05
done
# The desktop's explorer ends with the X display; end the one we started if it is still there.
kill "$wine_pid" 2>/dev/null || true
wait "$wine_pid" 2>/dev/null || true

[ -f "$shots/driver.log" ] && cat "$shots/driver.log"
if [ ! -f "$shots/result.txt" ]; then
  echo "the GUI test did not finish within $limit s"
  exit 1
fi
echo "GUI test run took $((SECONDS - started)) s; screenshots in $shots"
status=0
grep -q ' 0 failed' "$shots/result.txt" || status=1
[ "$mode" = demo ] && exit "$status"

# A launcher in a folder deeper than its old 256-byte path buffer, with the stand-ins planted in every
# folder above it: cut at 256 bytes and then at its last backslash, the path would name one of those,
# whose programs a bare-name start would find in the working directory.
# A path that long cannot be started by CreateProcess (nor by Wine's), so the launcher is started
# from the shell through Wine's loader, with its working directory at the top of the tree, and the
# driver plays the session start in the same desktop.
#   deep_case NAME FOLDER_LENGTH EXPECT: the deep folder's Windows path has FOLDER_LENGTH characters.
deep_case() {
  local name=$1 length=$2 expect=$3 root=$out/deep-$1 folder rest part logs
  root=$(realpath -m "$root")
  mkdir -p "$root"
  folder=$root
  rest=$((length - $(winpath "$root" | wc -c)))  # wc counts the newline-free text: no extra byte
  while [ "$rest" -gt 0 ]; do
    mkdir -p "$folder"
    cp "$standins/stunnel.exe" "$standins/winvnc_QARU_RC23.exe" "$configs"/stunnel[1-4].conf "$folder/"
    part=$(( rest - 1 > 60 ? 60 : rest - 1 ))
    [ $((rest - 1 - part)) -eq 1 ] && part=$((part - 2))  # never leave a rest of one: no empty name
    folder=$folder/$(printf 'd%.0s' $(seq "$part"))
    rest=$((rest - 1 - part))
  done
  # Beside the launcher only its configurations: a program of its own there would be found first by
  # a bare-name search too (the program's folder comes first), and it could not be started anyway.
  mkdir -p "$folder"
  cp "$launcher" "$configs"/stunnel[1-4].conf "$folder/"
  echo "deep case $name: folder of $(winpath "$folder" | wc -c) characters"
  # Both in a desktop of their own: the driver through explorer, the launcher (not started by a Windows
  # parent) through Wine's per-program setting of its desktop.
  local desktop=brolgui$$$name
  wine reg add 'HKCU\Software\Wine\AppDefaults\launcher.exe\Explorer' /v Desktop /d "$desktop" /f >/dev/null 2>&1
  wine explorer "/desktop=$desktop,$desktop_size" "$(winpath "$out/driver.exe")" deep "$expect" "$(winpath "$shots")" \
    >>"$out/wine.out" 2>&1 &
  local driver_pid=$!
  (cd "$root" && exec wine "./${folder#"$root"/}/$(basename "$launcher")") >>"$out/wine.out" 2>&1 &
  local launcher_pid=$! waited=$SECONDS
  # The explorer that started the driver may return before the driver ends: wait for its result.
  while [ ! -f "$shots/deep-$expect.txt" ] && [ $((SECONDS - waited)) -lt 90 ]; do sleep 0.2; done
  kill "$driver_pid" 2>/dev/null || true
  wait "$driver_pid" 2>/dev/null || true
  wine reg delete 'HKCU\Software\Wine\AppDefaults\launcher.exe' /f >/dev/null 2>&1
  kill "$launcher_pid" 2>/dev/null || true
  wait "$launcher_pid" 2>/dev/null || true
  cat "$shots/deep-$expect.log" 2>/dev/null || true
  logs=$(find "$root" -name '*.log')
  if [ -n "$logs" ]; then echo "FAIL: deep case $name started a program: $logs"; return 1; fi
  echo "ok  : deep case $name: no program anywhere in the tree was started"
  grep -q ' 0 failed' "$shots/deep-$expect.txt"
}
deep_case over-256 258 tunnel || status=1
deep_case over-max-path 300 refusal || status=1
exit "$status"
