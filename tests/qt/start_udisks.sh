#!/usr/bin/env bash
# Starts a system bus, polkitd and udisksd of the tests' own, in DIR, on a
# loop device holding a copy of IMAGE, and prints the loop device. polkitd
# reads its rules from DIR/rules laid over /etc/polkit-1/rules.d, and
# udisksd finds the loop device through a udev database of ours under a /run
# of their own (where udisksd also keeps its state): both only inside the
# mount namespace the daemons run in, so nothing of the machine's changes.
# The ids of what it started are left in DIR/*.pid and DIR/loop.
# Usage: start_udisks.sh DIR IMAGE MANIFEST
set -euo pipefail
dir=$1 image=$2 manifest=$3
cd "$dir"
exec 2>setup.log
cp "$image" image.img
grep "\"image\":\"$(basename "$image")\"" "$manifest" > manifest.jsonl
losetup -r -f --show image.img > loop
dev=$(basename "$(cat loop)")
mkdir -p sysfs rules home
chmod 777 home
# The only block device the window is to see.
ln -s "/sys/class/block/$dev" "sysfs/$dev"
# The user nobody may open devices for reading; anyone else gets polkit's
# defaults, which want an administrator's password and no agent is there.
cat > rules/50-tessilon-test.rules <<'EOF'
polkit.addRule(function(action, subject) {
  if (action.id.indexOf("org.freedesktop.udisks2.open-device") == 0 && subject.user == "nobody")
    return polkit.Result.YES;
});
EOF
chmod 755 rules
chmod 644 rules/*
cat > bus.conf <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$PWD/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$PWD/bus.conf" --fork --print-pid=3 3>dbus.pid
cat > daemons.sh <<EOF
set -e
mount -t tmpfs tmpfs /run
mkdir -p /run/udev/data
echo I:1 > /run/udev/data/b$(cat "/sys/class/block/$dev/dev")
mount --bind "$PWD/rules" /etc/polkit-1/rules.d
/usr/lib/polkit-1/polkitd --no-debug >"$PWD/polkitd.log" 2>&1 &
echo \$! > "$PWD/polkitd.pid"
exec /usr/libexec/udisks2/udisksd >"$PWD/udisksd.log" 2>&1
EOF
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$PWD/bus"
# unshare execs the shell, which execs udisksd: one id for all three.
unshare -m --propagation private sh daemons.sh </dev/null >/dev/null 2>&1 &
echo $! > udisksd.pid
# udisksd takes its name on the bus once it has looked at the devices.
for _ in $(seq 300); do
  if dbus-send --bus="$DBUS_SYSTEM_BUS_ADDRESS" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
       org.freedesktop.DBus.NameHasOwner string:org.freedesktop.UDisks2 2>/dev/null | grep -q 'boolean true'; then
    cat loop
    exit 0
  fi
  kill -0 "$(cat udisksd.pid)" 2>/dev/null || break
  sleep 0.1
done
echo "udisksd did not take its name on the bus" >&2
exit 1
