# Sourced by run-test.sh, run-fuzzer.sh and scripts/test.

# Tests that need an operation not every runner may do, root or not (a root
# in a container may lack the capability): one row a group, its gtest
# pattern, the probe that tries that one operation, and what the tests need
# it for. Where the probe fails, tests/run-test.sh leaves the group out and
# names it. A new group is a new row, and a new probe when no probe fits.
needs_table=(
  'AsNobody.*|can_act_as_nobody|they prepare files of another user and check them as nobody'
  'UnwritableJournalTest.*:EntryStoreTest.ReadOnlyFileOpensAndRefusesWrites|is_bound_by_file_modes|the kernel must refuse their writes: a root runs them as nobody'
  'AsRoot.*|can_make_private_host_name|they make a private host name in a UTS namespace of their own'
  '*OntoAFullDisk*|can_mount_tmpfs|their full disk is a small tmpfs they mount'
  '*.JournalMadeReadOnlyWhileOpenSaysItCannotBeWritten|can_make_immutable|they make an open journal immutable with chattr +i and need the file system to refuse writes through its open descriptor (tmpfs and btrfs let them through)'
  '*PrivateDevice*|can_make_device|they make a character device of their own with mknod and write into it'
  '*WithAnAcl*:*WhoseAcl*|can_keep_acl|they give a file an access ACL naming another user, which the file system must keep'
  'PartFileWrites.Cleanup*:PartFileWrites.TheMarkGoesWithThePart*:AsNobody.Cleanup*:AsNobody.EveryWriterKilledAfterAnyStep*:BackupRestoreTest.FailedBackupKeepsOlderBackup*:BackupRestoreTest.KilledRestore*:SideFiles/RestoreSideFilesTest.*|can_mark_parts|a later write removes the parts they leave by killing a writer, by the mark it set on each: a user extended attribute naming the file by its birth too'
  '*OnBindfs*|can_mount_bindfs|they write through a bindfs mount (FUSE), which makes no file without a name'
  '*OnOverlay*|can_mount_overlay|they write through an overlay mount they make in their temporary folder'
  '*WithoutProc*|can_hide_proc|they write in a mount namespace of their own where an empty tmpfs hides /proc'
  '*Dante*|has_dante|they relay through the SOCKS server dante, to be installed (Debian 13 has none)'
  '*OpenSshDsa*|openssh_knows_dsa|they ask OpenSSH about DSA keys, which OpenSSH 10 (Debian 13) no longer knows'
  'Debian13Stage.*|can_run_debian13_stage|they run the Debian 13 stage, which makes a root and mounts it in a mount namespace of its own, not from within that stage'
  'SetUpScript.*|can_hide_proc|they run scripts/setup as root in a mount namespace of their own, where a folder of theirs stands for /usr/sbin'
  'LoopbackPeerTest.ApacheAnswersDigestAndNtlm:LoopbackPeerTest.ProxiesNeedBasicAuthAndTunnel:LoopbackPeerTest.EveryProxyTakesLocalhostToTheLoopback:HttpComponent.DigestAgainstApacheAndScriptedServersCurlAgreesWith:NtlmExchange.*Apache*:NtlmExchange.WrongPasswordOnTheRequestRoadEndsWithThe401:ProxyTunnel.ApacheAsksForNtlmOnTheConnect:ProxyTunnel.ComponentRequestsAndTheGetRoadGoThroughSquid:ProxyTunnel.ProxyCredentialsStayOutOfTheTunnel:ProxyTunnel.TinyproxyAndSquidTunnelToTls10Nginx:ProxyTunnel.TunnelledRequestsGoInOriginForm:ServerCertificates.EachCheckRefusesItsServerThroughSquid:NegotiateKdc.RequestRoadAuthenticates:NegotiateKdc.GetRoadAuthenticates|services_reach_tmpdir|their apache and squid drop to service accounts (www-data, proxy), which must read what the test prepared under TMPDIR'
)
nobody_id=65534

# The probes: each tries its operation in a temporary folder of its own
# under $TMPDIR, where the tests work, and undoes it.
# nobody must also reach what a test prepares for it in the shared folder,
# which a TMPDIR under a folder closed to others (/root/tmp) hides.
can_act_as_nobody() {
  local file ok
  file=$(mktemp -p "${GRV_SHARED_TMP:-${TMPDIR:-/tmp}}") || return 1
  chown "$nobody_id:$nobody_id" "$file" 2>/dev/null &&
    setpriv --reuid="$nobody_id" --regid="$nobody_id" --clear-groups test -r "$file" 2>/dev/null
  ok=$?
  rm -f "$file"
  return $ok
}
is_bound_by_file_modes() {
  [ "$(id -u)" != 0 ] || can_act_as_nobody
}
# Only a root's peers drop to service accounts; they reach the shared
# folder where nobody does.
services_reach_tmpdir() {
  is_bound_by_file_modes
}
can_make_private_host_name() {
  unshare --uts true 2>/dev/null
}
can_mount_tmpfs() {
  local dir ok
  dir=$(mktemp -d) || return 1
  mount -t tmpfs -o size=64k tmpfs "$dir" 2>/dev/null && umount "$dir"
  ok=$?
  rmdir "$dir"
  return $ok
}
# What the test needs of it: a write through a descriptor opened before
# chattr +i is refused (ext4 refuses it; tmpfs and btrfs take it).
can_make_immutable() {
  local file fd ok=1
  file=$(mktemp) || return 1
  exec {fd}>>"$file"
  if chattr +i "$file" 2>/dev/null; then
    { printf x >&"$fd"; } 2>/dev/null || ok=0
    chattr -i "$file"
  fi
  exec {fd}>&-
  rm -f "$file"
  return $ok
}
can_make_device() {
  local dir ok
  dir=$(mktemp -d) || return 1
  # The node the tests make (/dev/null's numbers), opened and written as
  # they do: a folder mounted nodev lets mknod pass and refuses the open.
  mknod "$dir/device" c 1 3 2>/dev/null && { printf x >"$dir/device"; } 2>/dev/null
  ok=$?
  rm -rf "$dir"
  return $ok
}
# A part's mark, as a writer sets it: a user extended attribute kept, on a
# file whose birth the file system tells (ramfs and FAT keep no such
# attribute, nor a tmpfs before Linux 6.6).
can_mark_parts() {
  local file ok
  file=$(mktemp) || return 1
  python3 -c 'import os, sys; os.setxattr(sys.argv[1], "user.gorvane.probe", b"1")' "$file" 2>/dev/null &&
    [ "$(stat -c %W "$file" 2>/dev/null)" -gt 0 ] 2>/dev/null
  ok=$?
  rm -f "$file"
  return $ok
}
# A mount namespace of its own, /proc hidden there as the tests hide it.
can_hide_proc() {
  unshare -m --propagation private sh -c 'mount -t tmpfs none /proc' 2>/dev/null
}
# A FUSE mount of a folder of its own, as the tests make one and undo it.
can_mount_bindfs() {
  local dir ok
  dir=$(mktemp -d) || return 1
  mkdir "$dir/from" "$dir/at" &&
    bindfs "$dir/from" "$dir/at" 2>/dev/null &&
    { fusermount3 -u "$dir/at" 2>/dev/null || fusermount -u "$dir/at" 2>/dev/null; }
  ok=$?
  rm -rf "$dir"
  return $ok
}
# An overlay mount of folders of its own, as the tests make one and undo it.
can_mount_overlay() {
  local dir ok
  dir=$(mktemp -d) || return 1
  mkdir "$dir/lower" "$dir/upper" "$dir/work" "$dir/at" &&
    mount -t overlay overlay -o "lowerdir=$dir/lower,upperdir=$dir/upper,workdir=$dir/work" "$dir/at" 2>/dev/null &&
    umount "$dir/at"
  ok=$?
  rm -rf "$dir"
  return $ok
}
# What scripts/test-debian13-peers asks of its runner before anything else.
can_run_debian13_stage() {
  [ -z "${GRV_IN_DEBIAN13_STAGE:-}" ] && [ "$(id -u)" = 0 ] && unshare --mount --propagation private true 2>/dev/null
}
# The program tests/support/LoopbackPeers.cpp starts.
has_dante() {
  [ -x /usr/sbin/danted ]
}
openssh_knows_dsa() {
  ssh -Q key 2>/dev/null | grep -qx ssh-dss
}
# The ACL the tests give (owner rw-, nobody rw-, group ---, mask rw-,
# others ---), in the kernel's form.
can_keep_acl() {
  local file ok
  file=$(mktemp) || return 1
  python3 -c '
import os, struct, sys
none = 0xFFFFFFFF
entries = ((0x01, 6, none), (0x02, 6, int(sys.argv[2])), (0x04, 0, none), (0x10, 6, none), (0x20, 0, none))
os.setxattr(sys.argv[1], "system.posix_acl_access",
            struct.pack("<I", 2) + b"".join(struct.pack("<HHI", *e) for e in entries))
' "$file" "$nobody_id" 2>/dev/null
  ok=$?
  rm -f "$file"
  return $ok
}

# The tests that give a peer a host name to resolve (a proxy asked for
# "localhost"), which scripts/test runs once more with the hosts file
# Debian's installer writes bound over /etc/hosts: there localhost is ::1
# first, where the machines the project is developed on list 127.0.0.1
# alone. A gtest filter, so the run takes no more than those tests' time.
hosts_file_tests='LoopbackPeerTest.EveryProxyTakesLocalhostToTheLoopback:LoopbackPeerTest.DanteTakesLocalhostToTheLoopback:ServerCertificates.*:HttpConnection.*:CachedGets.*:SChannelVerification.*:TcpSocket.*:Resolver.*'
hosts_file_why='their second run binds the hosts file Debian installs over /etc/hosts in a mount namespace of its own'

# The hosts file as Debian's installer writes it.
write_stock_hosts() {
  printf '%s\n' '127.0.0.1	localhost' "127.0.1.1	$(uname -n)" '' \
    '# The following lines are desirable for IPv6 capable hosts' \
    '::1     localhost ip6-localhost ip6-loopback' 'ff02::1 ip6-allnodes' 'ff02::2 ip6-allrouters' >"$1"
}
can_bind_over_hosts() {
  local file ok
  file=$(mktemp) || return 1
  unshare --mount sh -c 'mount --bind "$1" /etc/hosts' sh "$file" 2>/dev/null
  ok=$?
  rm -f "$file"
  return $ok
}
# Runs a command with the stock hosts file bound over /etc/hosts in a mount
# namespace of its own: the machine's file stays as it was.
run_with_stock_hosts() {
  write_stock_hosts "$TMPDIR/hosts" &&
    unshare --mount sh -c 'mount --bind "$1" /etc/hosts && shift && exec "$@"' sh "$TMPDIR/hosts" "$@"
}

# Runs a command in the background and waits for it; a stop of the runner
# (TERM, INT, HUP) reaches the command as SIGTERM (a background command
# ignores SIGINT), and the runner then exits, so that its EXIT trap, its
# clean-up, runs however the run ends. Returns the command's status.
run_stoppable() {
  "$@" &
  stoppable_child=$!
  trap 'stop_stoppable 143' TERM
  trap 'stop_stoppable 130' INT
  trap 'stop_stoppable 129' HUP
  wait "$stoppable_child"
}
# A second stop (timeout signals the runner and then its whole group) must
# not cut the first one's clean-up short.
stop_stoppable() {
  trap '' TERM INT HUP
  kill -TERM "$stoppable_child" 2>/dev/null
  wait "$stoppable_child"
  exit "$1"
}

# Removes a folder a run wrote, after stopping the loopback peers still
# running from it: each peer's folder names its process group (peer.pgid,
# see tests/support/LoopbackPeers.cpp), and a test that crashed or was killed
# at its time-out could not stop them. A peer so killed leaves its shared
# memory files in /dev/shm: its folder names how their names start
# (peer.shm), a name with a random part of the run's own and no more than
# letters and digits, so none of another's is touched, and they go once its
# group has ended. Meant for an EXIT
# trap: a stop that comes meanwhile is ignored, and a step that fails (a
# group already gone) stops no other under set -e, so the clean-up always
# ends.
remove_run_folder() {
  trap '' TERM INT HUP
  find "$1" -name peer.pgid -type f 2>/dev/null | while read -r file; do
    kill -KILL -- "-$(cat "$file")" 2>/dev/null || true
  done
  find "$1" -name peer.shm -type f 2>/dev/null | while read -r file; do
    start=$(cat "$file" 2>/dev/null) && group=$(cat "${file%/*}/peer.pgid" 2>/dev/null) || continue
    [[ $start =~ ^[[:alnum:]]+-$ && $group =~ ^[0-9]+$ ]] || continue
    for _ in {1..50}; do
      kill -0 -- "-$group" 2>/dev/null || break
      sleep 0.1
    done
    if ! kill -0 -- "-$group" 2>/dev/null; then
      rm -f /dev/shm/"$start"*.shm
    fi
  done
  chmod -R u+rwx "$1" 2>/dev/null || true
  rm -rf "$1"
}

# The read-only guard: scripts/test runs the tests in a mount namespace of
# their own where every folder but the run's ($TMPDIR) is read-only, root's
# run too, so that a test that writes anywhere else fails on every run.
# The kernel's own (/dev, its /dev/shm among them, /proc, /sys) stay as
# they are, /tmp is a tmpfs of the run's own, the folders named in
# GRV_WRITABLE (ctest's logs in the build) stay writable, and those named in
# GRV_READABLE (the checkout) stay seen, read-only, under /tmp too.
make_read_only() {
  local keep mount fd fds=() mounts=()
  # Each kept folder a mount of its own, left writable below; one under
  # /tmp is bound again into the new /tmp, through a descriptor opened
  # before that hides it, with the mounts it holds. A readable folder goes
  # first, so that a kept folder inside it comes with it.
  for keep in ${GRV_READABLE:-} "$TMPDIR" ${GRV_WRITABLE:-}; do
    mount --rbind "$keep" "$keep" && exec {fd}<"$keep" || return 1
    fds+=("$fd")
  done
  mount -t tmpfs -o mode=1777 tmpfs /tmp || return 1
  for keep in ${GRV_READABLE:-} "$TMPDIR" ${GRV_WRITABLE:-}; do
    fd=${fds[0]}
    fds=("${fds[@]:1}")
    if [[ ! -d $keep ]]; then
      mkdir -p "$keep" && mount --no-canonicalize --rbind "/proc/self/fd/$fd" "$keep" || return 1
    fi
    exec {fd}<&-
  done
  for keep in ${GRV_READABLE:-}; do
    mount -o remount,bind,ro "$keep" || return 1
  done
  # sshd runs a test's commands through the account's shell, which reads
  # the account's start-up file: one that writes (a cache of its own) would
  # fail them here, so the namespace sees an empty one.
  local home
  home=$(getent passwd "$(id -u)" | cut -d: -f6)
  if [[ -n $home && -f $home/.bashrc ]]; then
    : >"$TMPDIR/blank-bashrc" && mount --bind "$TMPDIR/blank-bashrc" "$home/.bashrc" || return 1
  fi
  # sshd wants its privilege separation folder, which Debian makes only at
  # boot: where there is none, /run gets a layer holding one.
  if [[ ! -d /run/sshd ]]; then
    mkdir -p /tmp/.run-layer/upper/sshd /tmp/.run-layer/work &&
      mount -t overlay overlay -o lowerdir=/run,upperdir=/tmp/.run-layer/upper,workdir=/tmp/.run-layer/work /run ||
      return 1
  fi
  while read -r mount; do
    mounts+=("$(printf '%b' "$mount")")
  done < <(awk '{ print $5 }' /proc/self/mountinfo | sort -u)
  # A mount below /tmp is hidden under the run's own /tmp, out of every
  # test's reach, and can be remounted no more.
  for mount in "${mounts[@]}"; do
    case $mount in
    /dev | /dev/* | /proc | /proc/* | /sys | /sys/* | /tmp | /tmp/*) continue ;;
    esac
    for keep in "$TMPDIR" ${GRV_WRITABLE:-}; do
      [[ $mount == "$keep" || $mount == "$keep"/* ]] && continue 2
    done
    mount -o remount,bind,ro "$mount" 2>/dev/null || return 1
  done
  # A root that is no mount point (a chroot's) stays writable: no guard.
  ! test -w / && ! test -w /var && ! test -w /etc
}
can_make_read_only() {
  [ "$(id -u)" = 0 ] && run_read_only true 2>/dev/null
}
read_only_why='the guard makes every folder but the run'"'"'s read-only in a mount namespace of its own'
# Runs a command, or a function of this file, under the guard.
run_common_file=$(readlink -f "${BASH_SOURCE[0]}")
run_read_only() {
  unshare --mount --propagation private bash -c '. "$1" && shift && make_read_only && "$@"' bash \
    "$run_common_file" "$@"
}
