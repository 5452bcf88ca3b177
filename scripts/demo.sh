#!/usr/bin/env bash
# Installs what is missing, builds, makes an embedded demo database of signed,
# authorised documents (and one damaged), writes
# the settings file beside build/exportar-xml pointing at it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"

bash "$root/scripts/install-deps.sh"
BUILD_DIR="$build" bash "$root/scripts/build.sh" --target exportar-xml fbfixture

demo="$build/demo"
db="$demo/demo.fdb"
out="$demo/xml/"
rm -rf "$demo"
mkdir -p "$demo" "$out"

# Last month's documents, as the accountant will ask for them.
month=$(date -d "$(date +%Y-%m-15) -1 month" +%Y-%m)
yymm=$(date -d "$(date +%Y-%m-15) -1 month" +%y%m)
bash "$root/scripts/demo-documents.sh" "$demo/documents" "$yymm"
"$build/fbfixture" create "$db"
"$build/fbfixture" exec "$db" "$demo/documents/rows.sql"
for seq in 1 2 3 4 5 6; do
  "$build/fbfixture" settext "$db" "$seq" NFE_XML "$demo/documents/$seq.xml"
done
"$build/fbfixture" settext "$db" 3 NFE_CANCELAMENTO "$demo/documents/3-cancel.xml"

# The settings file: one section, CR LF lines, the three document kinds ticked.
# The stamp texts are day/month/year and 24-hour times, as pt-BR writes them.
# The demo's certificates stand for ICP-Brasil's: their root and intermediate
# are trusted through CertificadosConfiaveis.
printf '[Configuracoes]\r\nBase=%s\r\nData=01/01/2010\r\nHora=00:00:00\r\nPastaExportar=%s\r\nExportaEmitidas=S\r\nExportaEmitidasVeiculos=S\r\nExportaRecebidas=S\r\nCertificadosConfiaveis=%s\r\n' \
  "$db" "$out" "$demo/documents/confiaveis" > "$build/ConfigQuillan.ini"
rm -f "$build/ConfigQuillan.log.jsonl" "$build/ConfigQuillan.log.avisado"

echo "Demo database: $db (six documents of $month: five authorised NF-e, issued and"
echo "               received, one of them cancelled, one for a vehicle; and one cut short)"
echo "Settings:      $build/ConfigQuillan.ini"
echo "Output folder: $out"

# The main job: the unattended export, as a scheduler runs it.
echo
echo "Running: $build/exportar-xml /executa"
status=0
LC_ALL=pt_BR.UTF-8 "$build/exportar-xml" /executa || status=$?
echo "Exit status: $status"
echo
echo "The counts at the end of Resumo are documents whose checks found something: falhas_chave"
echo "(the access key: 44 digits, check digit, the key inside), falhas_xml (the XML: well formed,"
echo "authorised, the right key) and, where shown, falhas_assinatura (the issuer's signature, its"
echo "certificate's chain and holder at the signing moment, and the authorised digest). Files are written all the same; the month's package lists each finding"
echo "per document in manifesto.csv. Here the one document cut short is the one finding."
echo
echo "Written to $out:"
ls -l "$out"
echo
echo "Stamp now in the settings file:"
grep -E '^(Data|Hora)=' "$build/ConfigQuillan.ini" | tr -d '\r'
echo
echo "Running: $build/exportar-xml /status   (what a monitoring check asks)"
LC_ALL=pt_BR.UTF-8 "$build/exportar-xml" /status || true
echo
echo "Running: $build/exportar-xml /pacote $month   (the month's package for the accountant)"
pstatus=0
LC_ALL=pt_BR.UTF-8 "$build/exportar-xml" /pacote "$month" || pstatus=$?
echo "Exit status: $pstatus"
echo
echo "What the accountant receives, $out""NFe-$month.zip:"
unzip -l "$out/NFe-$month.zip"
echo
echo "Its manifesto.csv (file; key; issuer; model; series; number; issue date; kind; cancelled; sha256; checks):"
unzip -p "$out/NFe-$month.zip" manifesto.csv | tr -d '\r' | sed 's/;[0-9a-f]\{64\};/;<sha256>;/'
echo
echo "Start the window with: LC_ALL=pt_BR.UTF-8 $build/exportar-xml"
exit "$status"
