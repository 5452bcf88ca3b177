#!/usr/bin/env bash
# Installs what is missing, builds, makes an embedded demo database and writes
# the settings file beside build/exportar-xml pointing at it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"

bash "$root/scripts/install-deps.sh"
BUILD_DIR="$build" bash "$root/scripts/build.sh" --target exportar-xml fbfixture

demo="$build/demo"
db="$demo/demo.fdb"
out="$demo/xml/"
rm -rf "$out"
mkdir -p "$demo" "$out"
rm -f "$db"
"$build/fbfixture" demo "$db"

# The settings file: one section, CR LF lines, the three document kinds ticked.
# The stamp texts are day/month/year and 24-hour times, as pt-BR writes them.
printf '[Configuracoes]\r\nBase=%s\r\nData=01/01/2010\r\nHora=00:00:00\r\nPastaExportar=%s\r\nExportaEmitidas=S\r\nExportaEmitidasVeiculos=S\r\nExportaRecebidas=S\r\n' \
  "$db" "$out" > "$build/ConfigQuillan.ini"

echo "Demo database: $db"
echo "Settings:      $build/ConfigQuillan.ini"
echo "Output folder: $out"

# The main job: the unattended export, as a scheduler runs it.
echo
echo "Running: $build/exportar-xml /executa"
status=0
LC_ALL=pt_BR.UTF-8 "$build/exportar-xml" /executa || status=$?
echo "Exit status: $status"
echo
echo "Written to $out:"
ls -l "$out"
echo
echo "Stamp now in the settings file:"
grep -E '^(Data|Hora)=' "$build/ConfigQuillan.ini" | tr -d '\r'
echo
echo "Start the window with: LC_ALL=pt_BR.UTF-8 $build/exportar-xml"
exit "$status"
