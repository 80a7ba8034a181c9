#!/bin/sh
# The guest's init: sets up what a Debian system has (the port drivers, the device node
# in group lp, an ordinary user with and without that group), runs each case on the
# programs of the build, reports "rig: ok|FAIL case: what" lines, and powers off.
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin HOME=/tmp
mkdir -p /proc /sys /dev /tmp /host /etc
mount -t proc proc /proc && mount -t sysfs sys /sys && mount -t devtmpfs dev /dev && mount -t tmpfs tmp /tmp
for ko in /m/*.ko; do insmod "$ko" || echo "rig: FAIL boot: insmod $ko"; done
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144 hostroot /host
ln -s /host/usr /usr && ln -s /host/lib /lib && ln -s /host/lib64 /lib64 && ln -s /host/etc/ld.so.cache /etc/
printf 'root:x:0:0::/tmp:/bin/sh\nuser:x:1000:1000::/tmp:/bin/sh\nlpuser:x:1001:1001::/tmp:/bin/sh\n' >/etc/passwd
printf 'root:x:0:\nlp:x:7:lpuser\nuser:x:1000:\nlpuser:x:1001:\n' >/etc/group
chgrp lp /dev/parport0 && chmod 660 /dev/parport0  # as Debian's udev rules leave it
# The programs as the ordinary users run them, from a folder they may enter: the
# build's own path may pass through one only its owner may (mktemp -d, a private home).
mkdir -m 755 /tmp/b && cp /host$VARN_BUILD/varnprog /host$VARN_BUILD/pavolt /host$VARN_BUILD/libio.so /tmp/b/
B=/tmp/b
mkdir -m 777 /tmp/w && cd /tmp/w && echo 1 >gcal.txt && chmod 666 gcal.txt
(sleep 180; echo "rig: FAIL guest: still running after 180 s"; poweroff -f) &
boot_log=$(dmesg | wc -l) started=$(cut -d. -f1 /proc/uptime)
passed=0 failed=0

check() {  # CASE WHAT GOT WANT (WANT is a grep -E pattern over the whole value)
  if echo "$3" | grep -qxE "$4"; then passed=$((passed + 1)); echo "rig: ok $1: $2: $3"
  else failed=$((failed + 1)); echo "rig: FAIL $1: $2: got '$3', want '$4'"; fi
}
latch() { dd if=/dev/port bs=1 skip=$((0x378)) count=3 2>/dev/null | od -An -tx1 | sed 's/^ //'; }
active() { cat /proc/sys/dev/parport/parport0/devices/active; }
await() {  # FILE TEXT: up to 30 s for TEXT to show in FILE
  i=0
  while ! grep -q "$2" "$1" 2>/dev/null; do i=$((i + 1)); [ $i -lt 300 ] || return 1; usleep 100000; done
}
as() { user=$1; shift; su -m -s /bin/sh "$user" -c "$*"; }
guard() { (sleep 30; kill -9 "$@") 2>/dev/null & }  # a process hung in the kernel
many_i=$(yes -- -i | head -n 400 | tr '\n' ' ')
# A run stopped by a signal in the middle of its identifications: RESET goes high
# again, and the port is free for the next program at once.
stopped() {  # CASE SIGNAL [env]
  : >err  # before the start: the last case's lines must not pass for this one's
  env $3 $B/varnprog $many_i >out 2>err </dev/null &
  pid=$!
  await err "No target answered" && usleep 300000
  kill -"$2" $pid; wait $pid
  check "$1" "status, message" "$? $(grep -c 'Interrupted - stopping' err)" "$((128 + $(kill -l "$2"))) 1"
  check "$1" "latch after (data status control)" "$(latch)" "[0-9a-f][4567cdef] .. .."
  check "$1" "port holder after" "$(active)" none
  timeout 10 env $3 $B/varnprog -h >/dev/null 2>err2 </dev/null
  check "$1" "next program's status" $? 0
}

# Normal runs: pavolt switches Aux1 and Aux3 on (control 0001, every axis line low);
# varnprog's start raises RESET (data bit 2) and keeps the other bits. A ppdev claim
# sets the control lines to the kernel's 1100; direct access leaves them.
normal() {  # CASE CONTROL-AFTER-VARNPROG [env]
  env $3 $B/pavolt -m51 -m55 </dev/null >out 2>&1
  check "$1" "pavolt status, latch after" "$? $(latch)" "0 00 .. .1"
  env $3 $B/varnprog -h </dev/null >out 2>&1
  check "$1" "varnprog status, latch after" "$? $(latch)" "0 04 .. .$2"
}
normal normal c
# No chip answers on QEMU's port: the identification fails, the target is let run.
$B/varnprog -i </dev/null >out 2>err
check failed "status" $? 2
check failed "message" "$(grep -c 'No target answered' err)" 1
check failed "latch after" "$(latch)" "04 .. .."
for sig in INT TERM HUP QUIT; do stopped "SIG$sig" $sig; done
{ $B/varnprog $many_i 2>err; echo $? >status; } | head -c 20 >/dev/null
check SIGPIPE "status, message" "$(cat status) $(grep -c 'Interrupted - stopping' err)" "141 1"
check SIGPIPE "latch after" "$(latch)" "[0-9a-f][4567cdef] .. .."
check SIGPIPE "port holder after" "$(active)" none

# A second program while pavolt holds the port at its prompt.
start_waiter() {  # a varnprog started in the background, once it says it waits
  : >err
  $B/varnprog -h >out 2>err </dev/null &
  waiter=$!
  guard $waiter
  await err "waiting"
}
mkfifo keys
$B/pavolt <keys >holder 2>&1 &
holder=$!
exec 3>keys
await holder "Type 'e'"
check busy "holder" "$(active)" ppdev0
start_waiter
echo m51 >&3
await holder "m51"
check busy "holder answers while another waits" $? 0
check busy "waiter's notice, once" "$(grep -c 'held by ppdev0 (another program) - waiting' err)" 1
kill -INT $waiter; wait $waiter
check busy "waiter stopped by Ctrl-C" $? 130
check busy "holder's lines, untouched by the waiter's exit (Aux1 on)" "$(latch)" "00 .. .9"
start_waiter
echo e >&3
wait $holder
check busy "holder's status after e" $? 1
wait $waiter
check busy "waiter runs once the port is free" $? 0
exec 3>&-

# The device's group decides who opens the port.
as user $B/varnprog -h </dev/null >out 2>err
check permission "user outside group lp" "$? $(grep -c 'permission denied' err)" "2 1"
as lpuser $B/varnprog -h </dev/null >out 2>err
check permission "user in group lp" $? 0

# The legacy registers as root.
normal direct 1 LPT1=direct
stopped direct TERM LPT1=direct

# Through sudo, as root: the port opens with root's rights (user, outside group lp,
# couldn't open /dev/parport0, and only root may ioperm), everything after it runs as
# the user, so what the run writes is the user's; the lines show the port still
# answers after the drop. A SUDO_UID that names no user stops the run with status 2
# before anything is written.
mkdir -m 700 /tmp/s && cp /tmp/w/gcal.txt /tmp/s/ && chown -R 1000:1000 /tmp/s && cd /tmp/s
for port in /dev/parport0 direct; do
  env LPT1=$port SUDO_UID=1000 SUDO_GID=1000 $B/varnprog -lflog.txt </dev/null >out 2>err
  check "sudo $port" "varnprog status, log owner" "$? $(stat -c %u:%g log.txt)" "0 1000:1000"
  check "sudo $port" "latch after varnprog (RESET high)" "$(latch)" "[0-9a-f][4567cdef] .. .."
  env LPT1=$port SUDO_UID=1000 SUDO_GID=1000 $B/pavolt -m51 -m55 </dev/null >out 2>&1
  check "sudo $port" "pavolt status" $? 0
  check "sudo $port" "latch after pavolt" "$(latch)" "00 .. .1"
  rm -f log.txt
done
env SUDO_UID=1000x SUDO_GID=1000 $B/varnprog -lflog.txt </dev/null >out 2>err
check "sudo" "bad SUDO_UID: status, message, log" "$? $(grep -c "SUDO_UID '1000x' is not a user id" err) $(ls | grep -c log.txt)" "2 1 0"
env SUDO_UID=1000 SUDO_GID=x $B/pavolt -m51 </dev/null >out 2>err
check "sudo" "bad SUDO_GID: pavolt status" $? 2
# pavolt writes no file without a calibration (too slow here): that it reads as the
# user shows in a configuration only root may read, as an earlier run as root leaves it.
echo x_resolution 0.001 >pavoltconfig.txt && chmod 600 pavoltconfig.txt
env SUDO_UID=1000 SUDO_GID=1000 $B/pavolt -m51 </dev/null >out 2>err
check "sudo" "pavolt: root's own configuration refused to the user" "$? $(grep -c 'pavoltconfig.txt: Permission denied' err)" "2 1"
rm pavoltconfig.txt
# Installed set-user-id root, run by a user outside group lp: the port opens with
# root's rights and the rest runs as the user; the simulated board, which needs no
# rights and reads and writes the files its settings name, is not offered.
mkdir /tmp/suid && cp $B/varnprog $B/libio.so /tmp/suid/ && chmod 4755 /tmp/suid/varnprog
as user /tmp/suid/varnprog -lflog.txt </dev/null >out 2>err
check setuid "status, log owner" "$? $(stat -c %u:%g log.txt)" "0 1000:1000"
as user LPT1=sim:state=/tmp/w/out /tmp/suid/varnprog -i </dev/null >out 2>err
check setuid "simulated board refused" "$? $(grep -c 'needs no special rights' err)" "2 1"
rm -f log.txt
# Capabilities instead of root, for the user outside group lp: given to a copy's file
# (cap_sys_rawio opens the registers, cap_dac_override /dev/parport0) or handed down as
# ambient ones. The port opens with them and then every one is gone: pavolt, waiting
# at its prompt, shows empty sets and still drives the port (ioperm's grant and the
# ppdev claim outlive them); what varnprog writes is the user's. A copy with file
# capabilities runs set-id, as a setuid one: the simulated board is not offered.
# (/tmp's tmpfs keeps the security.capability attribute that setcap writes.)
ambient() {  # a shell line as user, with cap_dac_override in its ambient set
  /usr/sbin/capsh --inh=cap_dac_override --user=user --addamb=cap_dac_override --shell=/bin/sh -- -c "$*"
}
capable() {  # CASE LPT1 RUNNER FOLDER
  $3 "env LPT1=$2 $4/varnprog -lflog.txt" </dev/null >out 2>err
  check "$1" "varnprog status, log owner, latch after" "$? $(stat -c %u:%g log.txt) $(latch)" \
    "0 1000:1000 [0-9a-f][4567cdef] .. .."
  # The user's shell gives pavolt its own process id: the one to look at.
  rm -f log.txt holder keys pid && mkfifo -m 644 keys
  $3 "echo \$\$ >pid && exec env LPT1=$2 $4/pavolt <keys >holder 2>&1" &
  holder=$!
  exec 3>keys
  await holder "Type 'e'"
  guard $(cat pid)
  check "$1" "pavolt's capabilities at its prompt (Inh Prm Eff Amb)" \
    "$(awk '/^Cap(Inh|Prm|Eff|Amb)/ { printf "%s ", $2 }' /proc/$(cat pid)/status)" "(0{16} ){4}"
  echo m51 >&3
  await holder m51
  check "$1" "pavolt's lines after m51 (Aux1 on)" "$(latch)" "00 .. .9"
  echo e >&3
  exec 3>&-
  wait $holder
  check "$1" "pavolt's status after e" $? 1
}
for cap in cap_sys_rawio:direct cap_dac_override:/dev/parport0; do
  d=/tmp/${cap%%:*} && mkdir $d && cp $B/varnprog $B/pavolt $B/libio.so $d/
  /usr/sbin/setcap ${cap%%:*}+ep $d/varnprog ${cap%%:*}+ep $d/pavolt
  check "file ${cap%%:*}" "setcap" $? 0
  capable "file ${cap%%:*}" ${cap#*:} "as user" $d
  as user LPT1=sim:state=/tmp/w/out $d/varnprog -i </dev/null >out 2>err
  check "file ${cap%%:*}" "simulated board refused" "$? $(grep -c 'needs no special rights' err)" "2 1"
done
capable "ambient cap_dac_override" /dev/parport0 ambient $B
cd /tmp/w

check kernel "parport and ppdev lines since boot" "$(dmesg | tail -n +$((boot_log + 1)) | grep -ciE 'parport|ppdev')" 0
echo "rig: cases took $(($(cut -d. -f1 /proc/uptime) - started)) s after a boot of $started s"
echo "rig: $passed passed, $failed failed"
poweroff -f
