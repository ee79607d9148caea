#!/usr/bin/env bash
# Usage: run_download_test.sh [--windows] SERVICE TEST [ARGS...]
# Starts the Linux download service (SERVICE, or $FERROVAN_DOWNLOAD_SERVICE) on ports the system
# picks: over HTTP, over HTTPS with a certificate of a CA made for this run, and over HTTPS with
# one of a CA never trusted; runs the download test program TEST (with --windows, a command that
# runs a Windows program under Wine, the program among its arguments) with their addresses and
# the served folder in FERROVAN_TEST_* variables, in the test program's own path form, and stops
# them. Each served name has its behaviour (the service's switches below). Without the service or
# openssl it skips (status 77), unless FERROVAN_REQUIRE_TOOLS is set: then it fails.
set -euo pipefail
windows=
if [ "${1:-}" = "--windows" ]; then
  windows=1
  shift
fi
service=${FERROVAN_DOWNLOAD_SERVICE:-$1}
shift

missing() {
  echo "run_download_test: $1" >&2
  [ -n "${FERROVAN_REQUIRE_TOOLS:-}" ] && exit 1
  exit 77
}
[ -x "$service" ] || missing "no download service at $service (build the Linux project)"
command -v openssl >/dev/null || missing "openssl is missing (Debian package openssl)"

work=$(mktemp -d "${TMPDIR:-/tmp}/ferrovan-download-test-XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/served" "$work/keys"
keys=$work/keys
# Wine matches the server's name only against DNS names, so the address 127.0.0.1 stands there as
# a DNS name too. A name such as localhost would need the machine to resolve it, which a bare one
# without /etc/hosts does not.
# Each certificate names its issuer's key, and each run's authority has a name and serial numbers
# of its own: a prefix that still trusts the authority of an earlier run (one whose test was
# killed before it let go of it) must never take that one, with the same name, for this one.
printf '%s\n' 'subjectAltName=DNS:127.0.0.1,IP:127.0.0.1' 'basicConstraints=CA:FALSE' \
  'extendedKeyUsage=serverAuth' 'authorityKeyIdentifier=keyid:always' >"$keys/server.ext"
printf '%s\n' 'basicConstraints=critical,CA:TRUE' 'keyUsage=critical,keyCertSign,cRLSign' \
  'subjectKeyIdentifier=hash' >"$keys/ca.ext"
run_id=$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')
# Every certificate is valid from a day ago: one that becomes valid in the very second of the
# test is refused now and then by Wine, whose clock may lag the one that signed it.
cat >"$keys/ca.cnf" <<EOF
[ca]
default_ca = test_ca
[test_ca]
database = $keys/index.txt
new_certs_dir = $keys
serial = $keys/serial
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
EOF
: >"$keys/index.txt"
echo "${run_id}01" >"$keys/serial"
valid=(-startdate "$(date -u -d '1 day ago' +%Y%m%d%H%M%SZ)"
  -enddate "$(date -u -d '2 days' +%Y%m%d%H%M%SZ)")
# issue NAME CA-NAME EXTENSIONS: signs keys/NAME.csr into keys/NAME.pem with CA-NAME's key
# (NAME's own key when they are the same).
issue() {
  local signer=(-cert "$keys/$2.pem")
  [ "$1" = "$2" ] && signer=(-selfsign)
  openssl ca -batch -notext -config "$keys/ca.cnf" "${signer[@]}" -keyfile "$keys/$2.key" \
    -in "$keys/$1.csr" -out "$keys/$1.pem" -extfile "$keys/$3" "${valid[@]}"
}
request() {  # request NAME SUBJECT [KEY-NAME]: keys/NAME.csr, with a new key unless KEY-NAME
  local key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$keys/$1.key")
  [ $# -eq 3 ] && key=(-key "$keys/$3.key")
  openssl req -new "${key[@]}" -out "$keys/$1.csr" -subj "$2"
}
{
  request ca "/CN=FerroVan Download Test CA $run_id" && issue ca ca ca.ext
  request server "/CN=127.0.0.1" && issue server ca server.ext
  # The same name, vouched for by a CA that the test never trusts.
  request other "/CN=Some Other CA $run_id" && issue other other ca.ext
  request untrusted "/CN=127.0.0.1" server && issue untrusted other server.ext
} >"$work/openssl.log" 2>&1 || {
  cat "$work/openssl.log" >&2
  exit 1
}

# start NAME OPTIONS...: the service's address (ADDRESS:PORT) goes to $work/NAME.address.
start() {
  local name=$1
  shift
  # Made here, not by the redirection below, which runs in the started process: the first read
  # may come before that process has opened it.
  : >"$work/$name.out"
  # Every service treats each of these names its own way, whatever the test puts there: a 404
  # (missing), a body cut after 1000 bytes (cut), 100 TB announced (huge), a slow body (checked);
  # breaks that a download resumes (resumed), too many of them (often), a whole file sent again
  # once (again, again2) or every time (stuck), and a file changed between a break and its range,
  # by a server that heeds If-Range (changed) or ignores it (changed2); breaks more often than one
  # download resumes, so that the next goes on from the part kept, by a server that heeds If-Range
  # (parted) or ignores it (parted2). Any other name is served as it is.
  "$service" --folder "$work/served" --missing missing.bin --drop-after cut.bin:1000 \
    --claim-length huge.bin:109951162777600 --slow checked.bin:2000000 \
    --break-every resumed.bin:200000 --break-every often.bin:50000 \
    --break-every again.bin:300000 --break-count again.bin:1 --ignore-ranges again.bin \
    --break-every again2.bin:300000 --break-count again2.bin:1 --ignore-ranges again2.bin \
    --break-every stuck.bin:300000 --ignore-ranges stuck.bin \
    --break-every changed.bin:200000 --break-count changed.bin:1 \
    --break-every changed2.bin:200000 --break-count changed2.bin:1 --ignore-if-range changed2.bin \
    --break-every parted.bin:50000 --break-every parted2.bin:50000 --ignore-if-range parted2.bin \
    "$@" \
    >"$work/$name.out" 2>"$work/$name.log" &
  pids+=($!)
  local line="" tries=0
  # Bounded wait for its one line: 20 s.
  while [ $tries -lt 200 ]; do
    line=$(head -n 1 "$work/$name.out")
    [ -n "$line" ] && break
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.1
    tries=$((tries + 1))
  done
  case $line in
    "listening on "*"://"*) echo "${line##*://}" >"$work/$name.address" ;;
    *)
      echo "run_download_test: the $name service did not start" >&2
      cat "$work/$name.log" >&2
      exit 1
      ;;
  esac
}
start http --answers "$work/answers"
start https2 --https "$keys/server.pem" "$keys/server.key"
# From the HTTPS service, one name is sent on to plain HTTP and one to another HTTPS server.
downloads=FerroVanService/WebService/Downloads/secure.dll
start https --https "$keys/server.pem" "$keys/server.key" \
  --redirect "toPlain:http://$(cat "$work/http.address")/$downloads" \
  --redirect "toSecure:https://$(cat "$work/https2.address")/$downloads"
start untrusted --https "$keys/untrusted.pem" "$keys/server.key"

# A host path as the test program names it.
test_path() {
  if [ -n "$windows" ]; then
    printf 'Z:%s' "${1//\//\\}"
  else
    printf '%s' "$1"
  fi
}
http_port=$(cut -d: -f2 <"$work/http.address")
https_port=$(cut -d: -f2 <"$work/https.address")
untrusted_port=$(cut -d: -f2 <"$work/untrusted.address")
export FERROVAN_TEST_SERVER="http://127.0.0.1:$http_port/FerroVanService/WebService/Downloads/"
export FERROVAN_TEST_HTTPS_SERVER="https://127.0.0.1:$https_port/FerroVanService/WebService/Downloads/"
export FERROVAN_TEST_UNTRUSTED_SERVER="https://127.0.0.1:$untrusted_port/FerroVanService/WebService/Downloads/"
FERROVAN_TEST_FOLDER=$(test_path "$work/served")
FERROVAN_TEST_CA=$(test_path "$keys/ca.pem")
# The status and path of each answer of the HTTP service, one a line.
FERROVAN_TEST_ANSWERS=$(test_path "$work/answers")
export FERROVAN_TEST_FOLDER FERROVAN_TEST_CA FERROVAN_TEST_ANSWERS
# The requests go straight to the services even where a proxy is configured. Wine passes the
# environment on to a Windows program.
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost WINEDEBUG=-all
status=0
"$@" || status=$?
exit "$status"
