#!/usr/bin/env bash
# A one-node Ceph cluster for the object-store tests, without systemd, in one
# folder: a monitor, one OSD keeping its data in memory and radosgw on the given
# loopback port. Authentication is off inside the cluster; radosgw still checks
# S3 signatures against the user it is given.
#   ceph-cluster.sh start DIR MON_PORT RGW_PORT ACCESS_KEY SECRET_KEY OWNER_PID
#   ceph-cluster.sh rgw DIR        (radosgw again, after a test stopped it)
# Each daemon's PID lands in DIR/run/<name>.pid; the caller stops them by PID.
# Should the owner die first (a crashed or killed test), a watcher stops the
# daemons by those PIDs and removes the folder.
set -euo pipefail

cmd=$1
dir=$2
conf="$dir/ceph.conf"

wait_for() {  # seconds, description, command...
  local limit=$1 what=$2
  shift 2
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    if ((SECONDS >= end)); then
      echo "ceph-cluster: $what did not come up in ${limit}s (logs in $dir/log)" >&2
      exit 1
    fi
    sleep 0.1
  done
}

start_rgw() {
  radosgw -c "$conf" -n client.rgw.test
  wait_for 60 "radosgw" bash -c "exec 3<>/dev/tcp/127.0.0.1/$(cat "$dir/rgw_port")"
}

case "$cmd" in
start)
  mon_port=$3 rgw_port=$4 access=$5 secret=$6 owner=$7
  mkdir -p "$dir"/{mon,osd0,run,log}
  setsid bash -c '
    while kill -0 "$1" 2>/dev/null && [[ -d "$2" ]]; do sleep 1; done
    for f in "$2"/run/*.pid; do [[ -f $f ]] && kill -9 "$(cat "$f")" 2>/dev/null; done
    sleep 0.5; rm -rf "$2"' watcher "$owner" "$dir" </dev/null >/dev/null 2>&1 &
  echo "$rgw_port" >"$dir/rgw_port"
  fsid=$(cat /proc/sys/kernel/random/uuid)
  cat >"$conf" <<EOF
[global]
fsid = $fsid
mon host = v2:127.0.0.1:$mon_port
mon initial members = a
auth cluster required = none
auth service required = none
auth client required = none
auth supported = none
# With authentication off a client that insists on a secure mode retries forever.
ms mon client mode = crc
ms client mode = crc
ms service mode = crc
ms cluster mode = crc
ms mon service mode = crc
ms mon cluster mode = crc
# The default interval makes every map change wait a second.
paxos propose interval = 0.05
mon allow pool size one = true
mon warn on pool no redundancy = false
mon max pg per osd = 1000
osd pool default size = 1
osd pool default min size = 1
osd pool default pg num = 8
osd pool default pgp num = 8
osd pool default pg autoscale mode = off
osd objectstore = memstore
memstore device bytes = 2147483648
osd data = $dir/osd\$id
mon data = $dir/mon
run dir = $dir/run
pid file = $dir/run/\$name.pid
admin socket = $dir/run/\$name.asok
log file = $dir/log/\$name.log
keyring = $dir/keyring
crash dir = $dir/crash
debug ms = 0
[client.rgw.test]
rgw frontends = beast endpoint=127.0.0.1:$rgw_port
rgw data = $dir/rgw
rgw enable usage log = false
EOF
  mkdir -p "$dir/rgw" "$dir/crash"
  ceph-authtool --create-keyring "$dir/keyring" --gen-key -n mon. --cap mon 'allow *' >/dev/null
  monmaptool --create --addv a "[v2:127.0.0.1:$mon_port]" --fsid "$fsid" "$dir/monmap" >/dev/null
  ceph-mon -c "$conf" --mkfs -i a --monmap "$dir/monmap" --keyring "$dir/keyring"
  ceph-mon -c "$conf" -i a
  wait_for 60 "the monitor" ceph -c "$conf" --connect-timeout 5 mon stat
  id=$(ceph -c "$conf" osd create)
  ceph-osd -c "$conf" -i "$id" --mkfs >/dev/null 2>&1
  ceph-osd -c "$conf" -i "$id"
  wait_for 60 "the OSD" bash -c "ceph -c '$conf' osd stat | grep -q '1 up'"
  start_rgw
  radosgw-admin -c "$conf" user create --uid=tests --display-name=tests \
    --access-key="$access" --secret-key="$secret" >/dev/null
  ;;
rgw)
  start_rgw
  ;;
*)
  echo "usage: $0 start|rgw DIR ..." >&2
  exit 2
  ;;
esac
