#!/bin/sh
# The init of i386-guest's guest: mounts the machine's root file system (9p tag host, read-only),
# the runner's control folder (tag ctl), gives the root the kernel's file systems and tmpfs
# where programs write, the working folder over it all (tag work, read-write), then runs the
# command in /ctl/cmd chrooted there. Its output goes to /ctl/out, its exit code to /ctl/rc.
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
while read -r module; do insmod "$module"; done </modules.order

fail() {
  echo "i386-guest: $*"
  poweroff -f
}
p9=trans=virtio,version=9p2000.L,msize=524288
# The root is never written while the guest runs: the guest may cache it.
mount -t 9p -o "$p9,cache=loose,ro" host /host || fail "no root file system"
mount -t 9p -o "$p9" ctl /ctl || fail "no control folder"
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t devtmpfs devtmpfs /host/dev
mkdir -p /host/dev/pts /host/dev/shm
# What udev would add: bash's process substitution needs /dev/fd.
ln -s /proc/self/fd /host/dev/fd
ln -s /proc/self/fd/0 /host/dev/stdin
ln -s /proc/self/fd/1 /host/dev/stdout
ln -s /proc/self/fd/2 /host/dev/stderr
mount -t devpts devpts /host/dev/pts
for dir in /dev/shm /tmp /run; do mount -t tmpfs tmpfs "/host$dir" || fail "no tmpfs at $dir"; done
# The working folder last: it may lie under one of those (a checkout in /tmp, say). Through the
# page cache: wine maps the programs it loads, and with cache=mmap a 32-bit test program's code
# pages arrived as zeros (a page fault at its first instruction).
work=$(cat /ctl/work)
mkdir -p "/host$work" 2>/dev/null
mount -t 9p -o "$p9,cache=loose" work "/host$work" || fail "no working folder $work"
mkdir -p /host/run/i386-guest
mount --bind /ctl /host/run/i386-guest
booted=$(cut -d' ' -f1 /proc/uptime)
chroot /host /bin/bash /run/i386-guest/cmd >>/ctl/out 2>&1
echo $? >/ctl/rc.new
echo "booted in $booted s, the command ended at $(cut -d' ' -f1 /proc/uptime) s" >/ctl/times
sync
mv /ctl/rc.new /ctl/rc
poweroff -f
