# Sourced by the tests, the demo, the benchmark and the Windows build: builds
# the programs, starts and stops a throwaway server, runs SQL on it and writes
# a settings file for it. Every function takes what it works on as arguments;
# the server's account and addresses are the HALVORN_DB_* variables that
# start_server exports (those of scripts/db_server.sh).

# The programs of a build tree.
program_path() { echo "$1/src/run/Halvorn_MySQL"; }  # BUILD-DIR
tool_path() { echo "$1/src/tool/Halvorn_Ini"; }      # BUILD-DIR

# Installs what is missing and builds the programs of TOP, without tests,
# into BUILD-DIR; TARGET... builds only those.
build_programs() {  # TOP BUILD-DIR [TARGET...]
  local top=$1 dir=$2 targets=()
  shift 2
  [ $# -eq 0 ] || targets=(--target "$@")
  "$top/scripts/install_deps.sh"
  cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DHALVORN_TESTS=OFF >/dev/null
  cmake --build "$dir" -j"$(nproc 2>/dev/null || echo 2)" "${targets[@]}" >/dev/null
}

# A new directory for a throwaway server: short, since unix socket paths are
# limited in length.
new_server_dir() { mktemp -d "${TMPDIR:-/tmp}/halvorn-$1.XXXXXX"; }  # NAME

# Starts the throwaway server of DIR and exports its HALVORN_DB_* variables.
start_server() {  # TOP DIR
  "$1/scripts/db_server.sh" start "$2" >/dev/null
  set -a
  # shellcheck disable=SC1091
  . "$2/env"
  set +a
}

# Stops the server of DIR and removes DIR.
stop_server() {  # TOP DIR
  "$1/scripts/db_server.sh" stop "$2"
  rm -rf "$2"
}

# The mariadb client as root on the server of HALVORN_DB_SOCKET, in KVSYSTEM.
sql() { mariadb --no-defaults -uroot --socket="$HALVORN_DB_SOCKET" --default-character-set=utf8mb4 -D KVSYSTEM "$@"; }

# Writes the settings file FILE for the account in HALVORN_DB_USER and
# HALVORN_DB_PASSWORD on host HOST (localhost when not given), every value
# enciphered by the operator tool TOOL.
write_settings() {  # TOOL FILE [HOST]
  local tool=$1 file=$2 host=${3:-localhost} number=0 key value
  for key in LOGIN PASS DB_SYSTEM NET8; do
    case $key in
      LOGIN) value=$HALVORN_DB_USER ;;
      PASS) value=$HALVORN_DB_PASSWORD ;;
      DB_SYSTEM) value=MySQL ;;
      NET8) value=$host ;;
    esac
    number=$((number + 1))
    printf 'Veltrano;Datenbank;\n%d;%s;%s\n' "$number" "$key" "$("$tool" verschluesseln "$value")"
  done >"$file"
}
