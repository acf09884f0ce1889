# Sourced by the recipes: progress lines, logged steps, and the checked move
# of the finished work into place. Expects $dest (where the result goes; for
# an interpreter also its prefix), $work (the recipe's work folder, beside
# $dest) and $label (what is being built).

started=$SECONDS

# Says what the recipe is doing, with the time so far.
step() {
  local elapsed=$((SECONDS - started))
  printf '%s [%dm%02ds]: %s\n' "$label" $((elapsed / 60)) $((elapsed % 60)) "$*"
}

# A failed recipe keeps its work folder, logs included, and says where it is;
# a finished or interrupted one leaves nothing behind. Nothing may be mounted
# in the folder by then: the recipes mount only inside private mount
# namespaces, which end with the commands that made them.
finish() {
  local status=$?
  if [ "$status" -ne 0 ] && [ -d "$work" ]; then
    local kept="$work.failed"
    rm -rf "$kept"
    mv -T "$work" "$kept"
    echo "$label failed; its logs are kept in $kept" >&2
  else
    rm -rf "$work"
  fi
}
trap finish EXIT

# Runs a command with its output in $work/NAME.log, saying every minute that
# it still runs; shows the log's end when the command fails.
logged() {
  local name=$1
  shift
  "$@" > "$work/$name.log" 2>&1 &
  local command=$! ticks=0
  while kill -0 "$command" 2> /dev/null; do
    sleep 1
    ticks=$((ticks + 1))
    [ $((ticks % 60)) -eq 0 ] && step "still $name"
  done
  wait "$command" || {
    tail -n 40 "$work/$name.log"
    echo "$label: $name failed (log: $name.log)" >&2
    return 1
  }
}

# Lists the host's gem folders that exist, to check afterwards that an
# install put nothing there.
host_gem_folders() {
  ruby -e 'puts Gem.path' | while read -r folder; do
    if [ -d "$folder" ]; then find "$folder" -maxdepth 2; fi
  done | sort
}

# Moves the interpreter staged in $work/stage into place as $dest, once it
# is checked: the stage must hold the prefix alone, and the host's gem
# folders must be as they were when the recipe began.
keep_staged_install() {
  local stray
  stray=$(find "$work/stage" -mindepth 1 -path "$work/stage$dest" -prune -o -type f -print | head -n 5)
  if [ -n "$stray" ] || [ "$(host_gem_folders)" != "$gem_folders_before" ]; then
    echo "$label: the install wrote outside its prefix ${stray}" >&2
    exit 1
  fi
  mv -T "$work/stage$dest" "$dest"
  step "done: $dest"
}
gem_folders_before=$(host_gem_folders)
