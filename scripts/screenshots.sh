#!/usr/bin/env bash
# Makes the README's screenshots in docs/ from build/exportar-xml under Xvfb:
# the window at 100 % and 200 %, with its calendar and calculator open, and
# the "Histórico" window over a small made-up history.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
docs="$root/docs"

if [[ -z "${SCREENSHOTS_INNER:-}" ]]; then
  SCREENSHOTS_INNER=1 exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

work="$(mktemp -d)"
trap 'kill "${pid:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$build/exportar-xml" "$work/"
printf '[Configuracoes]\r\nBase=/srv/firebird/empresa.fdb\r\nData=01/03/2024\r\nHora=11:00:02\r\nPastaExportar=/srv/xml/\r\nExportaEmitidas=S\r\nExportaEmitidasVeiculos=S\r\nExportaRecebidas=S\r\n' \
  > "$work/ConfigQuillan.ini"

# Three runs ending a few hours before now; the last one failed.
run() {  # minutes-ago kind result written error
  local end start
  end="$(date --date="-$1 minutes" +%Y-%m-%dT%H:%M:%S%:z)"
  start="$(date --date="-$1 minutes -4 seconds" +%Y-%m-%dT%H:%M:%S%:z)"
  printf '{"inicio":"%s","fim":"%s","tipo":"%s","resultado":"%s","examinados":20000,"selecionados":120,"gravados":%s,"inalterados":0,"recusados":0,"marca_antes":"01/03/2024 10:00:00","marca_depois":"01/03/2024 11:00:02","tempo":0.842,"erro":"%s","documentos_recusados":[]}\n' \
    "$start" "$end" "$2" "$3" "$4" "$5"
}
{
  run 300 executa completo 120 ""
  run 240 janela completo 120 ""
  run 125 executa falhou 57 'Não foi possível gravar \"/srv/xml/NFe35240312345678000190550010000000571000000570.XML\": No space left on device'
} > "$work/ConfigQuillan.log.jsonl"

find_window() {  # title: sets X, Y, WIDTH, HEIGHT of the program's window with that title
  local id=""
  for _ in $(seq 50); do
    id="$(xdotool search --all --pid "$pid" --name "^$1\$" 2>/dev/null | head -1 || true)"
    [[ -n "$id" ]] && break
    sleep 0.1
  done
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$id")"
}
start_window() {  # scale
  QT_SCALE_FACTOR="$1" LC_ALL=pt_BR.UTF-8 DBUS_SESSION_BUS_ADDRESS= "$work/exportar-xml" &
  pid=$!
  find_window 'Exportar XML'
}
stop_window() { kill "$pid"; wait "$pid" 2>/dev/null || true; }
shot() {  # file width height: the window with a margin where there is room for one
  local m=$(( X >= 6 && Y >= 6 ? 6 : 0 ))
  import -window root -crop "$(($2 - 2 * (6 - m)))x$(($3 - 2 * (6 - m)))+$((X - m))+$((Y - m))" +repage "$1"
}
click() {  # window-relative point
  xdotool mousemove $((X + $1)) $((Y + $2)) click 1
  sleep 0.7
}

start_window 1
shot "$docs/main-window.png" $((WIDTH + 12)) $((HEIGHT + 12))
click 103 210  # "Data Inicial"'s button
shot "$docs/main-window-calendar.png" $((WIDTH + 12)) $((HEIGHT + 70))
xdotool key Escape; sleep 0.5
click 234 209  # "Filial"'s button
shot "$docs/main-window-calculator.png" $((WIDTH + 132)) $((HEIGHT + 70))
xdotool key Escape; sleep 0.5
click 292 253  # "Histórico"
find_window 'Histórico'
shot "$docs/history-window.png" $((WIDTH + 12)) $((HEIGHT + 12))
stop_window

start_window 2
shot "$docs/main-window-200.png" $((WIDTH + 24)) $((HEIGHT + 24))
stop_window
echo "Screenshots written to $docs"
