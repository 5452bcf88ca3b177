#!/usr/bin/env bash
# Installs what is missing, builds, makes an embedded demo database of signed,
# authorised NF-e and writes the settings file beside build/exportar-xml
# pointing at it; then runs what a shop and its accountant run: the unattended
# export, /status, and the month's package.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"

bash "$root/scripts/install-deps.sh"
BUILD_DIR="$build" bash "$root/scripts/build.sh" --target exportar-xml fbfixture

demo="$build/demo"
db="$demo/demo.fdb"
out="$demo/xml/"
texts="$demo/textos"
certificates="$demo/certificados"
month=2024-05
rm -rf "$out" "$texts" "$certificates"
mkdir -p "$demo" "$out" "$texts" "$certificates"
rm -f "$db" "$build/ConfigQuillan.log.jsonl"

# The documents as their issuers' systems sent them: each one signed over its
# infNFe (or infEvento) with the issuer's key and a self-signed certificate
# made here, the certificate inside the signature; the authorisation's digVal
# is the signature's digest, as the tax authority returns it.
"$build/fbfixture" demo-texts "$texts"
while read -r cnpj subject; do
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/C=BR/O=ICP-Brasil/CN=$subject" \
    -keyout "$certificates/$cnpj.key" -out "$certificates/$cnpj.crt" 2>/dev/null
done < "$texts/issuers.txt"
for text in "$texts"/*.xml; do
  issuer="${text##*-}"
  issuer="${issuer%.xml}"
  xmlsec1 --sign --privkey-pem "$certificates/$issuer.key,$certificates/$issuer.crt" \
    --id-attr:Id http://www.portalfiscal.inf.br/nfe:infNFe \
    --id-attr:Id http://www.portalfiscal.inf.br/nfe:infEvento \
    --output "$text.signed" "$text"
  mv "$text.signed" "$text"
  digest="$(grep -o '<DigestValue>[^<]*' "$text" | head -n 1 | cut -d'>' -f2)"
  # xmlsec1 writes the empty element back as <digVal/>
  LC_ALL=C sed -i -E "s#<digVal/>|<digVal></digVal>#<digVal>$digest</digVal>#" "$text"
  if grep -q '<protNFe' "$text" && ! grep -q "<digVal>$digest</digVal>" "$text"; then
    echo "demo: no digest in the authorisation of $text" >&2
    exit 1
  fi
done
# One supplier's document reached the ERP cut short after it was signed (an
# old import kept its first 4000 bytes): the one the checks must point at.
damaged="$texts/6-NFE_XML-77888999000155.xml"
head -c 4000 "$damaged" > "$damaged.cut"
mv "$damaged.cut" "$damaged"
"$build/fbfixture" demo "$db" "$texts"

# The settings file: one section, CR LF lines, the three document kinds ticked.
# The stamp texts are day/month/year and 24-hour times, as pt-BR writes them.
printf '[Configuracoes]\r\nBase=%s\r\nData=01/01/2010\r\nHora=00:00:00\r\nPastaExportar=%s\r\nExportaEmitidas=S\r\nExportaEmitidasVeiculos=S\r\nExportaRecebidas=S\r\n' \
  "$db" "$out" > "$build/ConfigQuillan.ini"

echo "Demo database: $db (7 NF-e of April and May 2024, issued and received, one cancelled; signed texts in $texts)"
echo "Settings:      $build/ConfigQuillan.ini"
echo "Output folder: $out"

# The main job: the unattended export, as a scheduler runs it.
echo
echo "Running: $build/exportar-xml /executa"
status=0
LC_ALL=pt_BR.UTF-8 "$build/exportar-xml" /executa || status=$?
echo "Exit status: $status"
echo "(falhas_chave / falhas_xml: documents whose access key / XML text failed the checks: 44 digits with a valid" \
  "check digit; well-formed, authorised (protNFe), the same key inside, and the signature where that check runs." \
  "Each document's findings are in the last column, verificacao, of manifesto.csv in the month's package below.)"
echo
echo "Written to $out:"
ls -l "$out"
echo
echo "Stamp now in the settings file:"
grep -E '^(Data|Hora)=' "$build/ConfigQuillan.ini" | tr -d '\r'

# What a monitoring check sees: 0 when the last run completed within a day.
echo
echo "Running: $build/exportar-xml /status"
status_code=0
LC_ALL=pt_BR.UTF-8 "$build/exportar-xml" /status || status_code=$?
echo "Exit status: $status_code"

# The accountant's month: one archive with every document, a manifest and the gaps.
echo
echo "Running: $build/exportar-xml /pacote $month"
package_status=0
LC_ALL=pt_BR.UTF-8 "$build/exportar-xml" /pacote "$month" || package_status=$?
echo "Exit status: $package_status"
package="$out/NFe-$month.zip"
if [[ -f "$package" ]]; then
  echo
  echo "What the accountant receives, $package:"
  unzip -l "$package"
  echo
  echo "manifesto.csv:"
  unzip -p "$package" manifesto.csv | tr -d '\r'
  echo
  echo "lacunas.csv (numbers missing in each series):"
  unzip -p "$package" lacunas.csv | tr -d '\r'
fi
echo
echo "Start the window with: LC_ALL=pt_BR.UTF-8 $build/exportar-xml"
exit "$status"
