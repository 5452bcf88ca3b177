#!/usr/bin/env bash
# Makes the demo's documents as an ERP keeps them: authorised NF-e signed with
# keys and certificates made here (XML signature over infNFe, as the tax
# authority requires), wrapped with their authorisation protocol, a
# cancellation event, and one document cut short on its way to the database.
# The certificates come from a small hierarchy of its own (a root, an
# intermediate, one certificate per issuer with its CNPJ where ICP-Brasil puts
# it), standing for ICP-Brasil's: the program trusts it through
# CertificadosConfiaveis.
# Writes, into FOLDER: the signed texts (<seq>.xml, <seq>-cancel.xml),
# rows.sql, the statements that insert the rows (texts are set afterwards),
# and confiaveis/, the root and the intermediate to trust.
#   scripts/demo-documents.sh FOLDER YYMM
set -euo pipefail
folder="$1"
yymm="$2"
mkdir -p "$folder"
cd "$folder"

# The hierarchy: valid from 2020 (the documents are last month's), with openssl ca.
mkdir -p ca/issued confiaveis
: > ca/index.txt
echo 1000 > ca/serial
cat > ca/ca.cnf <<'CNF'
[ca]
default_ca = demo
[demo]
database = ca/index.txt
new_certs_dir = ca/issued
serial = ca/serial
default_md = sha256
policy = any
unique_subject = no
email_in_dn = no
[any]
commonName = supplied
organizationName = optional
countryName = optional
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[leaf_ext]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,nonRepudiation,keyEncipherment
subjectAltName = otherName:2.16.76.1.3.3;OCTETSTRING:${ENV::CNPJ}
CNF
issue() {  # name subject extensions signer(empty: itself) cnpj
  local signing=(-cert "ca/$4-cert.pem" -keyfile "ca/$4-key.pem")
  [[ -n "$4" ]] || signing=(-selfsign -keyfile "ca/$1-key.pem")
  openssl req -new -newkey rsa:2048 -nodes -subj "$2" -keyout "ca/$1-key.pem" -out "ca/$1.csr" 2>/dev/null
  if ! CNPJ="${5:-0}" openssl ca -batch -notext -config ca/ca.cnf -startdate 20200101000000Z \
    -enddate 20400101000000Z -extensions "$3" -in "ca/$1.csr" -out "ca/$1-cert.pem" "${signing[@]}" \
    >"ca/$1.err" 2>&1; then
    cat "ca/$1.err" >&2
    echo "demo-documents: could not make the certificate $1" >&2
    exit 1
  fi
}
issue root "/C=BR/O=DEMONSTRACAO/CN=Raiz de Demonstracao" ca_ext ""
issue ac "/C=BR/O=DEMONSTRACAO/CN=AC de Demonstracao" ca_ext root
issue demo "/C=BR/O=EMPRESA DEMONSTRACAO LTDA/CN=EMPRESA DEMONSTRACAO LTDA:11222333000181" leaf_ext ac 11222333000181
issue supplier "/C=BR/O=DISTRIBUIDORA PARANA ATACADISTA SA/CN=DISTRIBUIDORA PARANA ATACADISTA SA:44555666000199" \
  leaf_ext ac 44555666000199
cp ca/root-cert.pem confiaveis/raiz.pem
cp ca/ac-cert.pem confiaveis/ac.pem

# Access key: cUF AAMM CNPJ mod serie nNF tpEmis cNF and the modulo-11 check digit.
access_key() {  # cnpj number
  local base
  base=$(printf '35%s%s55001%09d1%08d' "$yymm" "$1" "$2" $(( $2 * 7919 % 100000000 )))
  local sum=0 weight=2 i
  for (( i=${#base}-1; i>=0; i-- )); do
    sum=$(( sum + ${base:i:1} * weight ))
    weight=$(( weight == 9 ? 2 : weight + 1 ))
  done
  local r=$(( sum % 11 ))
  echo "$base$(( r < 2 ? 0 : 11 - r ))"
}

signature_template() {  # reference id
  printf '<Signature xmlns="http://www.w3.org/2000/09/xmldsig#"><SignedInfo><CanonicalizationMethod Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/><SignatureMethod Algorithm="http://www.w3.org/2000/09/xmldsig#rsa-sha1"/><Reference URI="#%s"><Transforms><Transform Algorithm="http://www.w3.org/2000/09/xmldsig#enveloped-signature"/><Transform Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/></Transforms><DigestMethod Algorithm="http://www.w3.org/2000/09/xmldsig#sha1"/><DigestValue></DigestValue></Reference></SignedInfo><SignatureValue></SignatureValue><KeyInfo><X509Data><X509Certificate></X509Certificate></X509Data></KeyInfo></Signature>' "$1"
}

# sign FILE ELEMENT [SIGNER]: signs in place with SIGNER's key (demo, the
# default, or supplier); prints the digest value.
sign() {
  local who="${3:-demo}"
  if ! xmlsec1 --sign --privkey-pem "ca/$who-key.pem,ca/$who-cert.pem" \
    --id-attr:Id "http://www.portalfiscal.inf.br/nfe:$2" --output "$1.signed" "$1" 2>"$1.err"; then
    cat "$1.err" >&2
    echo "demo-documents: could not sign $1" >&2
    exit 1
  fi
  rm -f "$1.err"
  mv "$1.signed" "$1"
  LC_ALL=C sed -n 's/.*<DigestValue>\([^<]*\)<\/DigestValue>.*/\1/p' "$1"
}

# Windows-1252 text from UTF-8 (the ERP stores that code page).
cp1252() { iconv -f UTF-8 -t WINDOWS-1252; }

day=$(printf '20%s-%s' "${yymm:0:2}" "${yymm:2:2}")
nfe() {  # seq cnpj-emit name-emit cnpj-dest name-dest number product value
  local seq=$1 key
  key=$(access_key "$2" "$6")
  printf '<?xml version="1.0" encoding="windows-1252"?>\n<NFe xmlns="http://www.portalfiscal.inf.br/nfe"><infNFe versao="4.00" Id="NFe%s"><ide><cUF>35</cUF><natOp>Venda de mercadoria</natOp><mod>55</mod><serie>1</serie><nNF>%s</nNF><dhEmi>%s-0%sT10:%02d:00-03:00</dhEmi><tpNF>1</tpNF><tpAmb>2</tpAmb></ide><emit><CNPJ>%s</CNPJ><xNome>%s</xNome></emit><dest><CNPJ>%s</CNPJ><xNome>%s</xNome></dest><det nItem="1"><prod><xProd>%s</xProd><vProd>%s</vProd></prod></det><total><ICMSTot><vNF>%s</vNF></ICMSTot></total></infNFe>%s</NFe>' \
    "$key" "$6" "$day" "$seq" "$seq" "$2" "$3" "$4" "$5" "$7" "$8" "$8" "$(signature_template "NFe$key")" | cp1252 > "nfe-$seq.xml"
  local digest
  digest=$(sign "nfe-$seq.xml" infNFe "$([[ $2 == 44555666000199 ]] && echo supplier || echo demo)")
  {
    printf '<?xml version="1.0" encoding="windows-1252"?>\n<nfeProc versao="4.00" xmlns="http://www.portalfiscal.inf.br/nfe">'
    tail -n +2 "nfe-$seq.xml"
    printf '<protNFe versao="4.00"><infProt><tpAmb>2</tpAmb><verAplic>SP_NFE_PL009_V4</verAplic><chNFe>%s</chNFe><dhRecbto>%s-0%sT10:%02d:30-03:00</dhRecbto><nProt>13526%010d</nProt><digVal>%s</digVal><cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo></infProt></protNFe></nfeProc>' \
      "$key" "$day" "$seq" "$seq" "$seq" "$digest"
  } > "$seq.xml"
  rm "nfe-$seq.xml"
  echo "$key"
}

cancel() {  # seq key cnpj
  local seq=$1 key=$2 id="ID110111${2}01"
  printf '<?xml version="1.0" encoding="windows-1252"?>\n<evento versao="1.00" xmlns="http://www.portalfiscal.inf.br/nfe"><infEvento Id="%s"><cOrgao>35</cOrgao><tpAmb>2</tpAmb><CNPJ>%s</CNPJ><chNFe>%s</chNFe><dhEvento>%s-09T16:00:00-03:00</dhEvento><tpEvento>110111</tpEvento><nSeqEvento>1</nSeqEvento><verEvento>1.00</verEvento><detEvento versao="1.00"><descEvento>Cancelamento</descEvento><nProt>13526%010d</nProt><xJust>Erro na emissão: pedido duplicado pelo vendedor</xJust></detEvento></infEvento>%s</evento>' \
    "$id" "$3" "$key" "$day" "$seq" "$(signature_template "$id")" | cp1252 > "event-$seq.xml"
  sign "event-$seq.xml" infEvento > /dev/null
  {
    printf '<?xml version="1.0" encoding="windows-1252"?>\n<procEventoNFe versao="1.00" xmlns="http://www.portalfiscal.inf.br/nfe">'
    tail -n +2 "event-$seq.xml"
    printf '<retEvento versao="1.00"><infEvento><tpAmb>2</tpAmb><cOrgao>35</cOrgao><cStat>135</cStat><xMotivo>Evento registrado e vinculado a NF-e</xMotivo><chNFe>%s</chNFe><tpEvento>110111</tpEvento><nSeqEvento>1</nSeqEvento></infEvento></retEvento></procEventoNFe>' "$key"
  } > "$seq-cancel.xml"
  rm "event-$seq.xml"
}

us=11222333000181 usName="EMPRESA DEMONSTRAÇÃO LTDA"
# each call in a subshell: a failure there must stop the script here
set -o errtrace
k1=$(nfe 1 $us "$usName" 44555666000199 "José Conceição &amp; Filhos Ltda" 1 "Açúcar cristal União 5 kg" 129.90)
k2=$(nfe 2 $us "$usName" 77888999000155 "Padaria Pão de Açúcar ME" 2 "Farinha de trigo especial 25 kg" 1890.00)
k3=$(nfe 3 $us "$usName" 44555666000199 "José Conceição &amp; Filhos Ltda" 3 "Café torrado e moído 500 g" 452.40)
cancel 3 "$k3" $us
k4=$(nfe 4 $us "$usName" 12345678000195 "Locadora Veículos São Paulo" 4 "Automóvel 1.0 flex, chassi 9BWZZZ377VT004251" 68900.00)
k5=$(nfe 5 44555666000199 "Distribuidora Paraná Atacadista S.A." $us "$usName" 1501 "Óleo de soja 900 ml, caixa com 20" 3120.00)
k6=$(nfe 6 $us "$usName" 77888999000155 "Padaria Pão de Açúcar ME" 5 "Fermento biológico seco 500 g" 87.30)
# Cut short on its way to the database: the accountant's checks find it.
head -c 900 6.xml > 6.cut && mv 6.cut 6.xml

{
  echo "INSERT INTO MVTO_PAI VALUES (1, 'NF', 'S', '$day-01', '55', 1, 1, '44555666000199');"
  echo "INSERT INTO MVTO_PAI VALUES (2, 'NF', 'S', '$day-02', '55', 1, 1, '77888999000155');"
  echo "INSERT INTO MVTO_PAI VALUES (3, 'NF', 'S', '$day-03', '55', 1, 1, '44555666000199');"
  echo "INSERT INTO MVTO_PAI VALUES (4, 'NF', 'S', '$day-04', '55', 1, 1, '12345678000195');"
  echo "INSERT INTO MVTO_PAI VALUES (5, 'NE', 'E', '$day-05', '55', 1, 1, '44555666000199');"
  echo "INSERT INTO MVTO_PAI VALUES (6, 'NF', 'S', '$day-06', '55', 1, 1, '77888999000155');"
  echo "INSERT INTO mvto_veiculos VALUES (4, '9BWZZZ377VT004251');"
  seq=1
  for k in "$k1" "$k2" "$k3" "$k4" "$k5" "$k6"; do
    echo "INSERT INTO MVTO_NFE (PAI_SEQU, DIG_DATAHORA, NFE_CHAVEACESSO) VALUES ($seq, '$day-0$seq 10:$(printf %02d $seq):30', '$k');"
    seq=$((seq + 1))
  done
} > rows.sql
