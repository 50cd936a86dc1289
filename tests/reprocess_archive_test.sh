#!/usr/bin/env bash
# An archive command of docs/user-guide.md (RECIPE), taken from between
# its markers and run as it stands on two generated nights: one whose run
# list answers the questions (its outputs and console must equal a plain run),
# one whose run list does not (status 1 at once instead of a wait), the only
# night the command's check may print. ssh and slurm start their services on
# loopback, configured from tests/services, and stop them whatever happens.
# Usage: reprocess_archive_test.sh SOURCE_DIR TARNFITS MKNIGHT TARNLOOK RECIPE
set -euo pipefail
guide=$1/docs/user-guide.md services_dir=$1/tests/services recipe=$5 PATH=$PATH:/usr/sbin
command=$(sed -n "/^# >>> $recipe\$/,/^# <<< $recipe\$/p" "$guide")
[ "$(wc -l <<<"$command")" -gt 2 ] || { echo "FAIL: no command marked in $guide" >&2; exit 1; }
[ "$recipe" = xargs ] || for tool in parallel sshd ssh-keygen mungekey munged slurmctld slurmd sbatch; do
  command -v "$tool" >/dev/null || { echo "no $tool: install parallel openssh-server munge slurmctld slurmd slurm-client"
    [ -n "${TARNFITS_NO_SKIP-}" ] && exit 1 || exit 77; }
done
scratch=$(mktemp -d /tmp/reprocess_test_XXXXXX)
cleanup() { # each service runs under timeout, which ends its process group
  set +e; [ -z "${SLURM_CONF-}" ] || timeout 30 sh -c 'scancel -u "$(id -un)"; while squeue -h | grep -q .; do sleep 0.2; done'
  for pid in "${services[@]}"; do kill "$pid" && wait "$pid"; done 2>/dev/null
  rm -rf "$scratch"; [ -z "${privsep-}" ] || rmdir "$privsep"
}
trap cleanup EXIT
start() { timeout -k 10 300 "$@" >>"$scratch/services.log" 2>&1 & services+=($!); }
await() { # WHAT COMMAND...: polls COMMAND for 60 s while every service runs
  local deadline=$((SECONDS + 60)); until "${@:2}" >/dev/null 2>&1; do
    kill -0 "${services[@]}" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ] || { cat "$scratch/services.log" >&2
      echo "FAIL: waited for $1, but a service ended (log above) or 60 s passed" >&2; exit 1; }
    sleep 0.2
  done
}
read -r port slurmd_port < <(python3 -c 'import socket; s = [socket.socket() for _ in "12"]
[t.bind(("127.0.0.1", 0)) for t in s]; print(*[t.getsockname()[1] for t in s])')
fill() { sed "s|@SCRATCH@|$scratch|g; s|@PORT@|$port|g; s|@SLURMD_PORT@|$slurmd_port|g; s|@USER@|$(id -un)|g
  s|@HOST@|$(hostname -s)|g" "$services_dir/$1" >"$scratch/$1"; }
mkdir "$scratch/archive" "$scratch/bin" "$scratch/home"
ln -s "$2" "$scratch/bin/tarnfits"
ln -s "$4" "$scratch/bin/tarnlook"
"$3" "$scratch/a" --andor 1 >/dev/null
"$3" "$scratch/b" --andor 1 --no-directives >/dev/null
mv "$scratch/a/tarnfits" "$scratch/archive/night1"
mv "$scratch/b/tarnfits" "$scratch/archive/night2"
cp -r "$scratch/archive/night1" "$scratch/plain"
(cd "$scratch/plain" && "$2" </dev/null >"$scratch/plain.console")

cd "$scratch/archive"
export HOME=$scratch/home && [ "$recipe" = ssh ] || export PATH=$scratch/bin:$PATH
case $recipe in
  ssh) [ -d /run/sshd ] || [ "$(id -u)" != 0 ] || { mkdir /run/sshd && privsep=/run/sshd; }
    ssh-keygen -q -t ed25519 -N '' -f "$scratch/host_key" && ssh-keygen -q -t ed25519 -N '' -f "$scratch/user_key"
    fill sshd_config && fill ssh_config && start "$(command -v sshd)" -D -e -f "$scratch/sshd_config"
    await "sshd to listen" grep -q '^Server listening' "$scratch/services.log"
    export PARALLEL_SSH="ssh -F $scratch/ssh_config" ;;
  slurm) mungekey -c -k "$scratch/munge.key" && mkdir "$scratch/slurmctld" "$scratch/slurmd" && chmod 755 "$scratch"
    start munged -F --key-file="$scratch/munge.key" --socket="$scratch/munge.socket" \
      --pid-file="$scratch/munged.pid" --log-file="$scratch/munged.log" --seed-file="$scratch/munged.seed"
    fill slurm.conf && export SLURM_CONF=$scratch/slurm.conf
    start slurmctld -D -f "$SLURM_CONF" && start slurmd -D -N node1 -f "$SLURM_CONF"
    await "the Slurm node to be idle" sh -c '[ "$(sinfo -h -o %T)" = idle ]' ;;
esac
checked=$(at_once=2 timeout 120 bash -c "$command" | sed '/^Submitted batch job/d') ||
  { echo "FAIL: the command did not end within 120 s" >&2; exit 1; }
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
[ "$checked" = '1 night2/' ] || fail "the command's check printed, instead of '1 night2/':"$'\n'"$checked"
cmp -s night1/tarnfits.console "$scratch/plain.console" || fail "night1's console differs"
for output in "$scratch"/plain/*.fit; do
  cmp -s "$output" "night1/${output##*/}" || fail "night1/${output##*/} differs"
done
for page in png html csv; do [ -s night1/tarnlook.$page ] || fail "no night1/tarnlook.$page"; done
[ "$(tail -n 2 night2/tarnfits.console)" = $'CANNOT READ ANSWER (end of input)\ntarnfits: standard input: end of input at a question' ] ||
  fail "night2's console does not end at the first question, with the cause"
[ -z "$(find night2 -name '*.fit' -o -name 'tarnlook*')" ] || fail "night2 has outputs or a page"
[ "$failures" -eq 0 ] && echo "reprocess_archive_test: both nights as documented"
