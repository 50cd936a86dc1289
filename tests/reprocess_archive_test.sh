#!/usr/bin/env bash
# An archive command of docs/user-guide.md (RECIPE), taken from between
# its markers and run as it stands on three generated nights: two whose run
# lists answer the questions (the last one's outputs and console must equal a
# plain run), one whose run list does not (status 1 at once instead of a
# wait), the only night the command's check may print. ssh and slurm start
# their services on loopback, configured from tests/services, on free ports
# (new ones when another process took one first), and stop them whatever
# happens. Slurm gets two nights an array, and the first night's task is
# cancelled before it starts, over a status left by an older run.
# Every command ends with tarnindex on this machine: the index must hold
# each night with its state.
# Usage: reprocess_archive_test.sh SOURCE_DIR TARNFITS MKNIGHT TARNLOOK RECIPE TARNINDEX
set -euo pipefail
guide=$1/docs/user-guide.md services_dir=$1/tests/services recipe=$5 PATH=$PATH:/usr/sbin
command=$(sed -n "/^# >>> $recipe\$/,/^# <<< $recipe\$/p" "$guide")
[ "$(wc -l <<<"$command")" -gt 2 ] || { echo "FAIL: no command marked in $guide" >&2; exit 1; }
declare -A tools=([parallel]=parallel [ssh]='parallel sshd ssh-keygen ssh'
  [slurm]='mungekey munged slurmctld slurmd sbatch scontrol split')
for tool in ${tools[$recipe]-}; do
  command -v "$tool" >/dev/null || { echo "no $tool: install parallel openssh-server munge slurmctld slurmd slurm-client"
    [ -n "${TARNFITS_NO_SKIP-}" ] && exit 1 || exit 77; }
done
scratch=$(mktemp -d /tmp/reprocess_test_XXXXXX)
cleanup() { # each service runs under timeout, which ends its process group
  set +e; [ -z "${SLURM_CONF-}" ] || timeout 30 sh -c 'scancel -u "$(id -un)"; while squeue -h | grep -q .; do sleep 0.2; done'
  for pid in "${services[@]}"; do kill "$pid" && wait "$pid"; done 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
start() { timeout -k 10 300 "$@" >>"$scratch/services.log" 2>&1 & services+=($!); }
await() { # WHAT COMMAND...: polls COMMAND for 60 s; 1 once a service ended or lost its port
  local deadline=$((SECONDS + 60)); until "${@:2}" >/dev/null 2>&1; do
    kill -0 "${services[@]}" 2>/dev/null && ! grep -qs 'Address already in use' "$scratch"/*.log || return 1
    [ "$SECONDS" -lt "$deadline" ] || { echo "FAIL: waited 60 s for $1" >&2; exit 1; }
    sleep 0.2
  done
}
serve() { # WHAT: runs serve_$recipe on two free ports, again on new ones while a bind failed
  for attempt in 1 2 3 4 5; do
    read -r port slurmd_port < <(python3 -c 'import socket; s = [socket.socket() for _ in "12"]
[t.bind(("127.0.0.1", 0)) for t in s]; print(*[t.getsockname()[1] for t in s])')
    "serve_$recipe" "$1" && return
    cat "$scratch"/*.log >&2; grep -qs 'Address already in use' "$scratch"/*.log ||
      { echo "FAIL: waited for $1, but a service ended (log above)" >&2; exit 1; }
    for pid in "${services[@]:$kept}"; do kill "$pid" && wait "$pid"; done 2>/dev/null
    services=("${services[@]:0:$kept}"); rm -rf "$scratch"/{services,slurmctld,slurmd}.log "$scratch"/slurmctld/*
  done; echo "FAIL: no free port held for $1 in 5 attempts" >&2; exit 1
}
serve_ssh() { fill sshd_config && fill ssh_config && start "$(command -v sshd)" -D -e -f "$scratch/sshd_config"
  await "$1" grep -q '^Server listening' "$scratch/services.log"; }
serve_slurm() { fill slurm.conf && start slurmctld -D -f "$SLURM_CONF" && start slurmd -D -N node1 -f "$SLURM_CONF"
  await "$1" sh -c '[ "$(sinfo -h -o %T)" = idle ]'; }
fill() { sed "s|@SCRATCH@|$scratch|g; s|@PORT@|$port|g; s|@SLURMD_PORT@|$slurmd_port|g; s|@USER@|$(id -un)|g
  s|@HOST@|$(hostname -s)|g" "$services_dir/$1" >"$scratch/$1"; }
mkdir "$scratch/archive" "$scratch/bin" "$scratch/home" "$scratch/local"
ln -s "$6" "$scratch/local/tarnindex"
ln -s "$2" "$scratch/bin/tarnfits"
ln -s "$4" "$scratch/bin/tarnlook"
"$3" "$scratch/a" --andor 1 >/dev/null
"$3" "$scratch/b" --andor 1 --no-directives >/dev/null
mv "$scratch/a/tarnfits" "$scratch/archive/night1"
mv "$scratch/b/tarnfits" "$scratch/archive/night2"
cp -r "$scratch/archive/night1" "$scratch/archive/night3"
cp -r "$scratch/archive/night1" "$scratch/plain"
(cd "$scratch/plain" && "$2" </dev/null >"$scratch/plain.console")

cd "$scratch/archive"
export HOME=$scratch/home PATH=$scratch/local:$PATH && [ "$recipe" = ssh ] || export PATH=$scratch/bin:$PATH
expected='1 night2/' kept=0
case $recipe in # sshd needs its privilege-separation folder, which another run's sshd may be using
  ssh) [ "$(id -u)" != 0 ] || mkdir -p /run/sshd
    ssh-keygen -q -t ed25519 -N '' -f "$scratch/host_key" && ssh-keygen -q -t ed25519 -N '' -f "$scratch/user_key"
    serve "sshd to listen" && export PARALLEL_SSH="ssh -F $scratch/ssh_config" ;;
  slurm) mungekey -c -k "$scratch/munge.key" && mkdir "$scratch/slurmctld" "$scratch/slurmd" && chmod 755 "$scratch"
    start munged -F --key-file="$scratch/munge.key" --socket="$scratch/munge.socket" \
      --pid-file="$scratch/munged.pid" --log-file="$scratch/munged.log" --seed-file="$scratch/munged.seed"
    kept=1 SLURM_CONF=$scratch/slurm.conf && export SLURM_CONF && serve "the Slurm node to be idle"
    echo 0 >night1/reprocess.status && expected=$'none night1/\n1 night2/'
    scontrol update NodeName=node1 State=DRAIN Reason=test # until night1's task is cancelled
    (await "an array" sh -c 'squeue -h -t PD | grep -q .' && scancel "$(squeue -h -o %F | head -n 1)_1" &&
      scontrol update NodeName=node1 State=RESUME) & ;;
esac
export at_once=2 per_array=2 && timeout 120 bash -c "$command" >"$scratch/command.out" ||
  { echo "FAIL: the command did not end within 120 s" >&2; exit 1; }
checked=$(sed '/^Submitted batch job/d' "$scratch/command.out") failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
[ "$checked" = "$expected" ] || fail "the command's check printed, instead of '$expected':"$'\n'"$checked"
cmp -s night3/tarnfits.console "$scratch/plain.console" || fail "night3's console differs"
for output in "$scratch"/plain/*.fit; do
  cmp -s "$output" "night3/${output##*/}" || fail "night3/${output##*/} differs"
done
for page in png html csv; do [ -s night3/tarnlook.$page ] || fail "no night3/tarnlook.$page"; done
declare -A hosts=([parallel]=: [ssh]='node1|node2') # the joblog's Host column: where each night ran
[ -z "${hosts[$recipe]-}" ] || [ "$(cut -f 2 reprocess.joblog | grep -cEx "${hosts[$recipe]}")" = 3 ] ||
  fail "the joblog's Host column is not ${hosts[$recipe]} for each night:"$'\n'"$(cat reprocess.joblog)"
if [ "$recipe" = slurm ]; then # two arrays, each throttled, whose tasks ran nights 2 and 3 and wrote their files
  mapfile -t jobs < <(sed -n 's/^Submitted batch job //p' "$scratch/command.out")
  [ "${#jobs[@]}" = 2 ] || fail "two arrays were not submitted:"$'\n'"$(cat "$scratch/command.out")"
  for job in "${jobs[@]}"; do scontrol show job "$job" | grep -q "ArrayTaskThrottle=$at_once " || fail "job $job has no throttle"; done
  for expect in "${jobs[0]-} 2 night2" "${jobs[1]-} 1 night3"; do read -r job task night <<<"$expect"
    [ "$(head -n 1 "reprocess-${job}_$task.out")" = "task $task of job $job: night $night/" ] ||
      fail "reprocess-${job}_$task.out does not start with its night $night"
  done
fi
[ "$(tail -n 2 night2/tarnfits.console)" = $'CANNOT READ ANSWER (end of input)\ntarnfits: standard input: end of input at a question' ] ||
  fail "night2's console does not end at the first question, with the cause"
[ -z "$(find night2 -name '*.fit' -o -name 'tarnlook*')" ] || fail "night2 has outputs or a page"
indexed=$'night1|indexed\nnight2|not looked at\nnight3|indexed'
[ "$recipe" != slurm ] || indexed=${indexed/night1|indexed/night1|not looked at}
[ "$(sqlite3 tarnindex.sqlite 'SELECT path, state FROM nights ORDER BY path')" = "$indexed" ] &&
  grep -q 'href="night3/tarnlook.html"' tarnindex.html || fail "the index does not hold the nights as they ended"
[ "$failures" -eq 0 ] && echo "reprocess_archive_test: every night as documented"
