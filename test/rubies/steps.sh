# Sourced by the interpreter recipes: progress lines, logged steps, and the
# checked move of the finished install into place. Expects $dest (where the
# interpreter goes, which is also its prefix), $work (the recipe's work
# folder) and $label (what is being built).

started=$SECONDS

# Says what the recipe is doing, with the time so far.
step() {
  local elapsed=$((SECONDS - started))
  printf '%s [%dm%02ds]: %s\n' "$label" $((elapsed / 60)) $((elapsed % 60)) "$*"
}

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
    echo "$label: $name failed; the whole log was $work/$name.log" >&2
    return 1
  }
}

# Lists the host's gem folders, to check afterwards that nothing was put there.
host_gem_folders() {
  ruby -e 'puts Gem.path' | while read -r folder; do
    [ -d "$folder" ] && find "$folder" -maxdepth 2
  done | sort
}
gem_folders_before=$(host_gem_folders)

# Moves the install staged in $work/stage into place as $dest, once it is
# checked: the stage must hold the prefix alone, and the host's gem folders
# must be as they were.
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
