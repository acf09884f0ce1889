# Sourced by the interpreter recipes: progress lines and logged steps.
# Expects $work (the recipe's work folder) and $label (what is being built).

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
