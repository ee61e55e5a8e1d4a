# Sourced by the demo and the benchmark: builds the programs without tests,
# starts a throwaway server and writes a settings file for it. Expects $top.

# Installs what is missing and builds; sets $program and $tool.
build_programs() {
  "$top/scripts/install_deps.sh"
  cmake -S "$top" -B "$top/build/programs" -DCMAKE_BUILD_TYPE=Release -DHALVORN_TESTS=OFF >/dev/null
  cmake --build "$top/build/programs" -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
  program=$top/build/programs/src/run/Halvorn_MySQL
  tool=$top/build/programs/src/tool/Halvorn_Ini
}

# Writes the settings file FILE for the account in HALVORN_DB_USER and
# HALVORN_DB_PASSWORD on host HOST (localhost when not given), every value
# enciphered by the tool.
write_settings() {  # FILE [HOST]
  local number=0 key value
  for key in LOGIN PASS DB_SYSTEM NET8; do
    case $key in
      LOGIN) value=$HALVORN_DB_USER ;;
      PASS) value=$HALVORN_DB_PASSWORD ;;
      DB_SYSTEM) value=MySQL ;;
      NET8) value=${2:-localhost} ;;
    esac
    number=$((number + 1))
    printf 'Veltrano;Datenbank;\n%d;%s;%s\n' "$number" "$key" "$("$tool" verschluesseln "$value")"
  done >"$1"
}

# Starts a throwaway server, stopped and removed when the script exits, and
# sets its HALVORN_DB_* variables. It lives in a short temporary path, since
# unix socket paths are limited in length.
start_server() {
  db=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-db.XXXXXX")
  trap '"$top/scripts/db_server.sh" stop "$db"; rm -rf "$db"' EXIT
  "$top/scripts/db_server.sh" start "$db" >/dev/null
  # shellcheck disable=SC1091
  . "$db/env"
}
