# Driving the INDI driver (under indiserver) and the Alpaca server from the
# guest checks, with the client tools a user has: indi_setprop and
# indi_getprop, curl.

indi_port=7624
indi_device="Tarnscsi CCD"
alpaca_port=11111

# indiserver with our driver, and a client that keeps everything the server
# sends (properties and the driver's messages) in $work/indi.xml. A server
# an earlier check left running is used again.
indi_start() {
  if [ -e "$work/indiserver.pid" ] && kill -0 "$(cat "$work/indiserver.pid")" 2>/dev/null; then
    return 0
  fi
  setsid indiserver -p "$indi_port" "$indi_driver" >"$work/indiserver.log" 2>&1 </dev/null &
  echo $! >"$work/indiserver.pid"
  wait_for 30 indi_getprop -p "$indi_port" -t 1 "$indi_device.CONNECTION.CONNECT" ||
    { cat "$work/indiserver.log"; fail "indiserver with $indi_driver did not answer"; }
  setsid bash -c "exec 3<>/dev/tcp/127.0.0.1/$indi_port && echo '<getProperties version=\"1.7\"/>' >&3 && cat <&3" \
    >"$work/indi.xml" 2>/dev/null </dev/null &
  echo $! >"$work/indi-listener.pid"
}

# indiserver waits for its driver to go; the checks need not.
indi_stop() {
  kill "$(cat "$work/indi-listener.pid")" 2>/dev/null
  kill -KILL "$(cat "$work/indiserver.pid")" 2>/dev/null
  pkill -KILL -f "$indi_driver"
  return 0
}

indi_get() { indi_getprop -1 -p "$indi_port" -t 1 "$indi_device.$1" 2>/dev/null; }
indi_set() { indi_setprop -p "$indi_port" "$indi_device.$1"; }
indi_is() { [ "$(indi_get "$1")" = "$2" ]; }

indi_connect() {
  indi_set "CONNECTION.CONNECT=On"
  wait_for 30 indi_is CONNECTION.CONNECT On || { indi_messages; fail "the INDI driver did not connect"; }
}

indi_disconnect() {
  indi_set "CONNECTION.DISCONNECT=On"
  wait_for 30 indi_is CONNECTION.DISCONNECT On || fail "the INDI driver did not disconnect"
}

# The driver's messages so far, one a line, into $work/out.
indi_messages() {
  grep -o 'message="[^"]*"' "$work/indi.xml" | sed 's/^message="//; s/"$//; s/&apos;/'"'"'/g; s/&quot;/"/g' >"$work/out"
  cat "$work/out"
}

# The frame the front-ends' checks take: small, so that emulation makes
# light work of it.
frame_width=64
frame_height=32

# One exposure of SECONDS of the checks' frame, saved by the driver itself
# as frame_*.fits in FOLDER.
indi_expose() {
  local seconds=$1 folder=$2
  mkdir -p "$folder"
  indi_set "CCD_FRAME.X;Y;WIDTH;HEIGHT=0;0;$frame_width;$frame_height"
  indi_set "UPLOAD_MODE.UPLOAD_LOCAL=On"
  indi_set "UPLOAD_SETTINGS.UPLOAD_DIR;UPLOAD_PREFIX=$folder;frame_XXX"
  indi_set "CCD_EXPOSURE.CCD_EXPOSURE_VALUE=$seconds"
  wait_for 60 compgen -G "$folder/frame_*.fits" || { indi_messages; fail "the INDI driver saved no frame in $folder"; }
  ls -l "$folder"
}

alpaca_start() {
  if [ -e "$work/alpaca.pid" ] && kill -0 "$(cat "$work/alpaca.pid")" 2>/dev/null; then
    return 0
  fi
  setsid "$alpaca_server" --port "$alpaca_port" --no-discovery >"$work/alpaca.log" 2>&1 </dev/null &
  echo $! >"$work/alpaca.pid"
  wait_for 30 curl -sf --max-time 5 "http://127.0.0.1:$alpaca_port/management/apiversions" ||
    { cat "$work/alpaca.log"; fail "the Alpaca server did not start"; }
}

alpaca_stop() { kill -KILL "$(cat "$work/alpaca.pid")" 2>/dev/null; return 0; }

alpaca_transaction=0
# alpaca_put MEMBER FORM and alpaca_get MEMBER [QUERY]: the reply into $work/out.
alpaca_put() {
  alpaca_transaction=$((alpaca_transaction + 1))
  run curl -s -X PUT -d "$2&ClientID=7&ClientTransactionID=$alpaca_transaction" \
    "http://127.0.0.1:$alpaca_port/api/v1/camera/0/$1"
}
alpaca_get() {
  alpaca_transaction=$((alpaca_transaction + 1))
  curl -s "http://127.0.0.1:$alpaca_port/api/v1/camera/0/$1?ClientID=7&ClientTransactionID=$alpaca_transaction${2:+&$2}" >"$work/out"
}
alpaca_ok() { grep -q '"ErrorNumber":0' "$work/out"; }
alpaca_says() { alpaca_get "$1" && grep -q "\"Value\":$2" "$work/out"; }

# One exposure of SECONDS of the checks' frame; the image array must have its shape.
alpaca_expose() {
  local seconds=$1 width=$frame_width height=$frame_height
  alpaca_put numx "NumX=$width" && alpaca_put numy "NumY=$height"
  alpaca_put startexposure "Duration=$seconds&Light=true"
  alpaca_ok || fail "the Alpaca server refused the exposure"
  wait_for 60 alpaca_says imageready true || { cat "$work/out"; fail "the Alpaca image was never ready"; }
  alpaca_get imagearray
  head -c 200 "$work/out"; echo
  alpaca_ok || fail "the Alpaca server gave no image"
  grep -q '"Rank":2' "$work/out" || fail "the Alpaca image is not two-dimensional"
  # ImageArray is indexed [x][y]: one inner array per column.
  local columns rows
  columns=$(sed 's/.*"Value":\[//' "$work/out" | grep -o '\[' | wc -l)
  [ "$columns" -eq "$width" ] || fail "the Alpaca image has $columns columns, not $width"
  rows=$(sed 's/.*"Value":\[\[//; s/\].*//' "$work/out" | awk -F, '{ print NF }')
  [ "$rows" -eq "$height" ] || fail "the Alpaca image has $rows rows, not $height"
}
