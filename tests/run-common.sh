# Sourced by run-test.sh, run-fuzzer.sh and scripts/test.

# Only root can run these: AsNobody tests prepare files owned by another user
# and check them as nobody; AsRoot tests make a private host name; the full
# disk is a small tmpfs mounted for the test, and the journal made read-only
# while open is made immutable.
needs_root='AsNobody.*:AsRoot.*:*.BackupOntoAFullDiskSaysTheDiskIsFull:*.JournalMadeReadOnlyWhileOpenSaysItCannotBeWritten'
needs_root_why='they need root (AsNobody: files of another user, checked as nobody; AsRoot: a private host name; a full disk: a tmpfs mounted; a journal made immutable)'

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
# at its time-out could not stop them. Meant for an EXIT trap: a stop that
# comes meanwhile is ignored, so the clean-up always ends.
remove_run_folder() {
  trap '' TERM INT HUP
  find "$1" -name peer.pgid -type f 2>/dev/null | while read -r file; do
    kill -KILL -- "-$(cat "$file")" 2>/dev/null
  done
  chmod -R u+rwx "$1" 2>/dev/null
  rm -rf "$1"
}
