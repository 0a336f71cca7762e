#!/bin/sh
# The technician's side on Linux in one command, run as the technician in the desktop session from the
# unpacked kit: "sh start-linux.sh". The tunnel servers become system services (sudo asks for the
# password), the console a service of this desktop session. Run it again after a new kit: it copies
# the files again and restarts both.
set -eu
kit=$(cd "$(dirname "$0")" && pwd)
ids="@IDS@"
for id in $ids; do
  for file in $(sed -n 's/^\(cert\|key\) *= *//p' "$kit/stunnel-techniker$id.conf"); do
    [ -f "$kit/$file" ] || { echo "start-linux.sh: $file is missing beside the configurations (README.txt, step 1)" >&2; exit 1; }
  done
done
sudo sh -eu -c '
  kit=$1; shift
  id fernwartung >/dev/null 2>&1 ||
    useradd --system --home-dir /opt/fernwartung-techniker --shell /usr/sbin/nologin fernwartung
  mkdir -p /opt/fernwartung-techniker
  cp "$kit"/*.conf "$kit"/*.crt "$kit"/*.key "$kit"/client-ca.crl /opt/fernwartung-techniker/
  chown -R fernwartung:fernwartung /opt/fernwartung-techniker
  chmod 600 /opt/fernwartung-techniker/*.key
  cp "$kit/fernwartung-techniker@.service" /etc/systemd/system/
  systemctl daemon-reload
  for id in "$@"; do
    systemctl enable --quiet "fernwartung-techniker@$id"
    systemctl restart "fernwartung-techniker@$id"
  done
' sh "$kit" $ids
mkdir -p "$HOME/.config/systemd/user"
sed "s|@KIT@|$kit|g" "$kit/fernwartung-konsole.service" >"$HOME/.config/systemd/user/fernwartung-konsole.service"
systemctl --user import-environment DISPLAY XAUTHORITY WAYLAND_DISPLAY 2>/dev/null || true
systemctl --user daemon-reload
systemctl --user enable --quiet fernwartung-konsole
systemctl --user restart fernwartung-konsole
echo "started: the tunnel servers of IDs $ids and the console; its journal: $kit/technician-journal.log"
