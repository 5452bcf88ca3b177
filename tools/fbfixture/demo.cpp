// The demo's documents as a shop's ERP holds them: authorised NF-e 4.00 that
// it issued and received, one cancelled by its event, accents as Windows-1252
// bytes. Their texts go through files so that scripts/demo.sh can sign them
// with xmlsec1 between writeDemoTemplates and fillDemo.
#include "tools/fbfixture/fixture.h"

#include "db/ibdatabase.h"
#include "db/ibquery.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fixture {

namespace {

struct Party {
    const char* cnpj;
    const char* name;  // UTF-8 here, Windows-1252 in the documents
    const char* street;
    const char* number;
    const char* district;
    const char* cityCode;
    const char* city;
    const char* state;
    const char* stateCode;  // IBGE
    const char* ie;
    const char* cep;
};

const Party kShop = {"11222333000181", "Comércio de Peças São João Ltda", "Rua da Consolação", "1200",
                     "Consolação", "3550308", "São Paulo", "SP", "35", "110042490114", "01302001"};
const Party kSugar = {"44555666000199", "Açúcar União Distribuidora S.A.", "Avenida Amazonas", "4187",
                      "Prado", "3106200", "Belo Horizonte", "MG", "31", "0623079040081", "30411130"};
const Party kMetal = {"77888999000155", "Metalúrgica Paraná Indústria e Comércio Ltda", "Rua João Negrão", "731",
                      "Rebouças", "4106902", "Curitiba", "PR", "41", "9015071525", "80010200"};
const Party kJose = {"12345678000195", "José Conceição & Filhos Ltda", "Rua Vergueiro", "3185", "Vila Mariana",
                     "3550308", "São Paulo", "SP", "35", "113455877110", "04101300"};
const Party kBakery = {"23456789000106", "Padaria Pão de Açúcar Ltda ME", "Rua Augusta", "58", "Consolação",
                       "3550308", "São Paulo", "SP", "35", "116208446119", "01305000"};
const Party kGarage = {"34567890000117", "Oficina Mecânica Irmãos Araújo Ltda", "Avenida Brigadeiro Faria Lima",
                       "1572", "Jardim Paulistano", "3550308", "São Paulo", "SP", "35", "148230015116", "01451001"};

struct Item {
    const char* code;
    const char* description;
    const char* ncm;
    long quantity;   // whole units
    long unitCents;
};

struct Demo {
    int seq;
    const Party* issuer;
    const Party* recipient;
    int series;
    long number;
    const char* code;     // cNF, 8 digits
    const char* issued;   // local date and time, "2024-05-06T09:12:40"
    const char* received; // the authority's, same form
    const char* protocol; // nProt
    const char* moment;   // DIG_DATAHORA: when the ERP stored it
    std::vector<Item> items;
    const char* cancelled = nullptr;  // the event's moment, when cancelled
    const char* reason = nullptr;
};

const std::vector<Demo>& demos()
{
    static const std::vector<Demo> list = {
        {1, &kShop, &kJose, 1, 1200, "40391822", "2024-04-30T16:45:10", "2024-04-30T16:45:31", "135240001187420",
         "2024-04-30 16:45:33",
         {{"PF-1450", "Parafuso sextavado 1/2\" aço carbono zincado", "73181500", 200, 85},
          {"AR-0050", "Arruela lisa 1/2\" aço zincado", "73182200", 200, 22}}},
        {2, &kShop, &kJose, 1, 1201, "71820394", "2024-05-06T09:12:40", "2024-05-06T09:13:02", "135240001203311",
         "2024-05-06 09:13:05",
         {{"RL-6205", "Rolamento rígido de esferas 6205 2RS", "84821010", 10, 2890},
          {"RT-0035", "Retentor 35x52x7 borracha nitrílica", "40169300", 10, 640}}},
        {3, &kShop, &kBakery, 1, 1202, "05517283", "2024-05-07T11:20:00", "2024-05-07T11:20:19", "135240001204756",
         "2024-05-07 15:02:40",
         {{"CR-A42", "Correia em V perfil A-42 para amassadeira", "40103100", 2, 4750}},
         "2024-05-07T15:02:11", "Pedido cancelado pelo cliente antes da saída da mercadoria"},
        {4, &kSugar, &kShop, 2, 58731, "66003152", "2024-05-08T07:55:21", "2024-05-08T07:55:48", "131240088650217",
         "2024-05-08 14:30:00",
         {{"AC-CRISTAL-5", "Açúcar cristal 5 kg", "17019900", 40, 2190},
          {"AC-REFINADO-1", "Açúcar refinado 1 kg", "17019900", 120, 519}}},
        {5, &kShop, &kJose, 1, 1203, "93110478", "2024-05-10T14:03:55", "2024-05-10T14:04:17", "135240001209983",
         "2024-05-10 14:04:20",
         {{"MG-1210", "Mangueira hidráulica 1/2\" 2 tramas (metro)", "40093100", 15, 3480},
          {"TE-1212", "Terminal prensado reto 1/2\"", "73079900", 8, 1225},
          {"AB-0412", "Abraçadeira rosca sem fim 12-22 mm inox", "73269090", 50, 310}}},
        {6, &kMetal, &kShop, 1, 9912, "28840615", "2024-05-14T10:31:07", "2024-05-14T10:31:40", "141240011572098",
         "2024-05-15 08:10:12",
         {{"CH-2030", "Chapa de aço SAE 1020 3,00 mm 1000x2000", "72085200", 12, 48900},
          {"BR-1016", "Barra redonda trefilada SAE 1045 1\" (6 m)", "72155000", 20, 21350},
          {"CT-0025", "Cantoneira abas iguais 1\" x 1/8\" (6 m)", "72162100", 30, 6790},
          {"TB-3412", "Tubo industrial redondo 3/4\" parede 1,20 mm (6 m)", "73063000", 25, 5840},
          {"PF-0810", "Perfil U enrijecido 100x40x15 2,00 mm (6 m)", "72166110", 18, 11260},
          {"VG-0405", "Vergalhão CA-50 3/8\" (12 m)", "72142000", 60, 4315},
          {"TL-1014", "Tela soldada Q-92 2x3 m", "73142000", 14, 15980},
          {"PR-3322", "Prego com cabeça 18x27 (kg)", "73170090", 50, 1490}}},
        {7, &kShop, &kGarage, 1, 1204, "17264809", "2024-05-20T08:40:12", "2024-05-20T08:40:37", "135240001218045",
         "2024-05-20 08:40:41",
         {{"FL-0420", "Filtro de óleo PSL 420", "84212300", 12, 2370},
          {"PA-9140", "Pastilha de freio dianteira jogo", "68132000", 6, 8990}}},
    };
    return list;
}

// The Portuguese texts fit Windows-1252's Latin-1 half: U+0080..U+00FF.
std::string cp1252(const std::string& utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += char(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            out += char(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        } else {
            throw std::logic_error("demo text outside Latin-1: " + utf8);
        }
    }
    return out;
}

std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

std::string element(const char* name, const std::string& text)
{
    return std::string("<") + name + ">" + escaped(cp1252(text)) + "</" + name + ">";
}

std::string money(long cents)
{
    return std::to_string(cents / 100) + "." + (cents % 100 < 10 ? "0" : "") + std::to_string(cents % 100);
}

std::string digits(long value, int width)
{
    std::string s = std::to_string(value);
    return std::string(width > int(s.size()) ? width - s.size() : 0, '0') + s;
}

const char* kNamespace = "http://www.portalfiscal.inf.br/nfe";

std::string keyOf(const Demo& d)
{
    // cUF, AAMM, CNPJ, model, series, number, emission kind, code, check digit
    const std::string date = d.issued;
    const std::string first43 = std::string(d.issuer->stateCode) + date.substr(2, 2) + date.substr(5, 2) +
                                d.issuer->cnpj + "55" + digits(d.series, 3) + digits(d.number, 9) + "1" + d.code;
    return first43 + char('0' + accessKeyCheckDigit(first43));
}

std::string address(const char* tag, const Party& p)
{
    return std::string("<") + tag + ">" + element("xLgr", p.street) + element("nro", p.number) +
           element("xBairro", p.district) + element("cMun", p.cityCode) + element("xMun", p.city) +
           element("UF", p.state) + element("CEP", p.cep) + element("cPais", "1058") + element("xPais", "Brasil") +
           "</" + tag + ">";
}

std::string signatureTemplate(const std::string& id)
{
    // Filled by xmlsec1: inclusive C14N 1.0, enveloped, RSA-SHA1, the certificate inside.
    return "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
           "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
           "<SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/>"
           "<Reference URI=\"#" + id + "\"><Transforms>"
           "<Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>"
           "<Transform Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/></Transforms>"
           "<DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><DigestValue></DigestValue>"
           "</Reference></SignedInfo><SignatureValue></SignatureValue>"
           "<KeyInfo><X509Data><X509Certificate></X509Certificate></X509Data></KeyInfo></Signature>";
}

// Brasília time, no daylight saving since 2019.
const char* kOffset = "-03:00";

// The signed NF-e: infNFe and its signature template.
std::string nfe(const Demo& d)
{
    const std::string key = keyOf(d);
    const bool sameState = std::string(d.issuer->state) == d.recipient->state;
    const bool sale = d.issuer == &kShop;
    long total = 0, icms = 0, pis = 0, cofins = 0;
    std::string items;
    int n = 0;
    for (const Item& it : d.items) {
        const long value = it.quantity * it.unitCents;
        const long itemIcms = value * 18 / 100, itemPis = value * 165 / 10000, itemCofins = value * 760 / 10000;
        total += value;
        icms += itemIcms;
        pis += itemPis;
        cofins += itemCofins;
        const std::string cfop = sameState ? "5102" : "6102";
        items += "<det nItem=\"" + std::to_string(++n) + "\"><prod>" + element("cProd", it.code) +
                 element("cEAN", "SEM GTIN") + element("xProd", it.description) + element("NCM", it.ncm) +
                 element("CFOP", cfop) + element("uCom", "UN") + element("qCom", std::to_string(it.quantity) + ".0000") +
                 element("vUnCom", money(it.unitCents) + "00") + element("vProd", money(value)) +
                 element("cEANTrib", "SEM GTIN") + element("uTrib", "UN") +
                 element("qTrib", std::to_string(it.quantity) + ".0000") + element("vUnTrib", money(it.unitCents) + "00") +
                 element("indTot", "1") + "</prod><imposto><ICMS><ICMS00>" + element("orig", "0") +
                 element("CST", "00") + element("modBC", "3") + element("vBC", money(value)) +
                 element("pICMS", "18.00") + element("vICMS", money(itemIcms)) + "</ICMS00></ICMS><PIS><PISAliq>" +
                 element("CST", "01") + element("vBC", money(value)) + element("pPIS", "1.65") +
                 element("vPIS", money(itemPis)) + "</PISAliq></PIS><COFINS><COFINSAliq>" + element("CST", "01") +
                 element("vBC", money(value)) + element("pCOFINS", "7.60") + element("vCOFINS", money(itemCofins)) +
                 "</COFINSAliq></COFINS></imposto></det>";
    }
    const std::string issued = std::string(d.issued) + kOffset;
    std::string x = "<NFe xmlns=\"" + std::string(kNamespace) + "\"><infNFe Id=\"NFe" + key + "\" versao=\"4.00\"><ide>" +
                    element("cUF", d.issuer->stateCode) + element("cNF", d.code) +
                    element("natOp", sale ? "Venda de mercadoria adquirida de terceiros" : "Venda de produção do estabelecimento") +
                    element("mod", "55") + element("serie", std::to_string(d.series)) +
                    element("nNF", std::to_string(d.number)) + element("dhEmi", issued) +
                    element("dhSaiEnt", issued) + element("tpNF", "1") + element("idDest", sameState ? "1" : "2") +
                    element("cMunFG", d.issuer->cityCode) + element("tpImp", "1") + element("tpEmis", "1") +
                    element("cDV", key.substr(43)) + element("tpAmb", "1") + element("finNFe", "1") +
                    element("indFinal", "0") + element("indPres", "1") + element("procEmi", "0") +
                    element("verProc", "ERP 7.3.2") + "</ide><emit>" + element("CNPJ", d.issuer->cnpj) +
                    element("xNome", d.issuer->name) + address("enderEmit", *d.issuer) + element("IE", d.issuer->ie) +
                    element("CRT", "3") + "</emit><dest>" + element("CNPJ", d.recipient->cnpj) +
                    element("xNome", d.recipient->name) + address("enderDest", *d.recipient) +
                    element("indIEDest", "1") + element("IE", d.recipient->ie) + "</dest>" + items +
                    "<total><ICMSTot>" + element("vBC", money(total)) + element("vICMS", money(icms)) +
                    element("vICMSDeson", "0.00") + element("vFCP", "0.00") + element("vBCST", "0.00") +
                    element("vST", "0.00") + element("vFCPST", "0.00") + element("vFCPSTRet", "0.00") +
                    element("vProd", money(total)) + element("vFrete", "0.00") + element("vSeg", "0.00") +
                    element("vDesc", "0.00") + element("vII", "0.00") + element("vIPI", "0.00") +
                    element("vIPIDevol", "0.00") + element("vPIS", money(pis)) + element("vCOFINS", money(cofins)) +
                    element("vOutro", "0.00") + element("vNF", money(total)) + "</ICMSTot></total><transp>" +
                    element("modFrete", "0") + "</transp><pag><detPag>" + element("tPag", "15") +
                    element("vPag", money(total)) + "</detPag></pag><infAdic>" +
                    element("infCpl", "Pedido " + std::to_string(d.number + 31000) + ". Obrigado pela preferência.") +
                    "</infAdic></infNFe>";
    return x + signatureTemplate("NFe" + key) + "</NFe>";
}

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";

// The distribution text: the NF-e with the authority's authorisation, whose
// digVal scripts/demo.sh sets to the signature's DigestValue.
std::string nfeProc(const Demo& d)
{
    const std::string key = keyOf(d);
    return kDeclaration + "<nfeProc versao=\"4.00\" xmlns=\"" + kNamespace + "\">" + nfe(d) +
           "<protNFe versao=\"4.00\"><infProt Id=\"ID" + d.protocol + "\">" + element("tpAmb", "1") +
           element("verAplic", std::string(d.issuer->state) + "_NFE_PL009_V4") + element("chNFe", key) +
           element("dhRecbto", std::string(d.received) + kOffset) + element("nProt", d.protocol) +
           "<digVal></digVal>" + element("cStat", "100") + element("xMotivo", "Autorizado o uso da NF-e") +
           "</infProt></protNFe></nfeProc>";
}

std::string cancellation(const Demo& d)
{
    const std::string key = keyOf(d);
    const std::string at = std::string(d.cancelled) + kOffset;
    const std::string id = "ID110111" + key + "01";
    const std::string protocol = std::string(d.protocol).substr(0, 9) + "5307718";
    return kDeclaration + "<procEventoNFe versao=\"1.00\" xmlns=\"" + kNamespace + "\"><evento versao=\"1.00\" xmlns=\"" +
           kNamespace + "\"><infEvento Id=\"" + id + "\">" + element("cOrgao", d.issuer->stateCode) +
           element("tpAmb", "1") + element("CNPJ", d.issuer->cnpj) + element("chNFe", key) + element("dhEvento", at) +
           element("tpEvento", "110111") + element("nSeqEvento", "1") + element("verEvento", "1.00") +
           "<detEvento versao=\"1.00\">" + element("descEvento", "Cancelamento") + element("nProt", d.protocol) +
           element("xJust", d.reason) + "</detEvento></infEvento>" + signatureTemplate(id) +
           "</evento><retEvento versao=\"1.00\"><infEvento>" + element("tpAmb", "1") +
           element("verAplic", std::string(d.issuer->state) + "_EVENTOS_PL_100") + element("cOrgao", d.issuer->stateCode) +
           element("cStat", "135") + element("xMotivo", "Evento registrado e vinculado a NF-e") + element("chNFe", key) +
           element("tpEvento", "110111") + element("xEvento", "Cancelamento registrado") + element("nSeqEvento", "1") +
           element("dhRegEvento", at) + element("nProt", protocol) + "</infEvento></retEvento></procEventoNFe>";
}

std::string textFile(const std::string& folder, const Demo& d, const char* column)
{
    return folder + "/" + std::to_string(d.seq) + "-" + column + "-" + d.issuer->cnpj + ".xml";
}

// What the ERP keeps: the shop's own documents as sent (NFE_XML) and as
// authorised (NFE_DISTRIBUICAO); a supplier's as it arrived (NFE_XML).
std::vector<std::pair<const char*, std::string>> texts(const Demo& d)
{
    std::vector<std::pair<const char*, std::string>> t;
    if (d.issuer == &kShop) {
        t.push_back({"NFE_XML", kDeclaration + nfe(d)});
        t.push_back({"NFE_DISTRIBUICAO", nfeProc(d)});
    } else {
        t.push_back({"NFE_XML", nfeProc(d)});
    }
    if (d.cancelled)
        t.push_back({"NFE_CANCELAMENTO", cancellation(d)});
    return t;
}

}  // namespace

int accessKeyCheckDigit(const std::string& first43)
{
    if (first43.size() != 43)
        return -1;
    int sum = 0, weight = 2;
    for (auto it = first43.rbegin(); it != first43.rend(); ++it) {
        if (*it < '0' || *it > '9')
            return -1;
        sum += (*it - '0') * weight;
        weight = weight == 9 ? 2 : weight + 1;
    }
    const int rest = sum % 11;
    return rest < 2 ? 0 : 11 - rest;
}

void writeDemoTemplates(const std::string& folder)
{
    for (const Demo& d : demos())
        for (const auto& [column, text] : texts(d)) {
            std::ofstream out(textFile(folder, d, column), std::ios::binary | std::ios::trunc);
            out << text;
            if (!out.flush())
                throw std::runtime_error("cannot write " + textFile(folder, d, column));
        }
    std::ofstream issuers(folder + "/issuers.txt", std::ios::binary | std::ios::trunc);
    // As an e-CNPJ names its holder: "NAME:CNPJ", plain capitals.
    for (const Party* p : {&kShop, &kSugar, &kMetal}) {
        std::string name;
        for (unsigned char c : cp1252(p->name)) {
            static const std::string from = "\xC0\xC1\xC2\xC3\xC7\xC9\xCA\xCD\xD3\xD4\xD5\xDA\xE0\xE1\xE2\xE3\xE7\xE9\xEA\xED\xF3\xF4\xF5\xFA";
            static const std::string to = "AAAACEEIOOOUAAAACEEIOOOU";
            const auto at = from.find(char(c));
            name += at == std::string::npos ? char(std::toupper(c)) : to[at];
        }
        issuers << p->cnpj << ' ' << name << ':' << p->cnpj << '\n';
    }
    if (!issuers.flush())
        throw std::runtime_error("cannot write " + folder + "/issuers.txt");
}

void fillDemo(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who,
              const std::string& folder)
{
    db::TIBDatabase database;
    db::TIBTransaction transaction;
    database.setClient(client);
    database.setDatabaseName(path);
    database.params() = {"user_name=" + who.user, "password=" + who.password};
    database.setDefaultTransaction(&transaction);
    database.open();
    db::TIBQuery nfeRow, paiRow;
    nfeRow.setDatabase(&database);
    paiRow.setDatabase(&database);
    nfeRow.sql().add("INSERT INTO MVTO_NFE (PAI_SEQU, DIG_DATAHORA, NFE_CHAVEACESSO,"
                     " NFE_CANCELAMENTO, NFE_DISTRIBUICAO, NFE_XML)"
                     " VALUES (:SEQ, :MOMENT, :CHAVE, :CANC, :DIST, :XML)");
    paiRow.sql().add("INSERT INTO MVTO_PAI (PAI_SEQU, PAI_TIPODOC, PAI_ENTSAI, PAI_DTEMISSAO,"
                     " PAI_MODELO, PAI_CANCELADA, PAI_FILIAL, PAI_CNPJCFP)"
                     " VALUES (:SEQ, :TIPO, :ES, :EMISSAO, :MODELO, :CANCELADA, :FILIAL, :CNPJ)");
    const std::pair<const char*, const char*> columns[] = {
        {"NFE_CANCELAMENTO", "CANC"}, {"NFE_DISTRIBUICAO", "DIST"}, {"NFE_XML", "XML"}};
    for (const Demo& d : demos()) {
        nfeRow.paramByName("SEQ").setInteger(d.seq);
        nfeRow.paramByName("MOMENT").setText(d.moment);
        nfeRow.paramByName("CHAVE").setText(keyOf(d));
        for (const auto& [column, param] : columns) {
            std::ifstream in(textFile(folder, d, column), std::ios::binary);
            if (in)
                nfeRow.paramByName(param).setText(std::string(std::istreambuf_iterator<char>(in), {}));
            else
                nfeRow.paramByName(param).clear();
        }
        nfeRow.execSQL();
        const bool issued = d.issuer == &kShop;
        paiRow.paramByName("SEQ").setInteger(d.seq);
        paiRow.paramByName("TIPO").setText(issued ? "NF" : "NE");
        paiRow.paramByName("ES").setText(issued ? "S" : "E");
        paiRow.paramByName("EMISSAO").setText(std::string(d.issued).substr(0, 10));
        paiRow.paramByName("MODELO").setText("55");
        paiRow.paramByName("CANCELADA").setInteger(d.cancelled ? 1 : 0);
        paiRow.paramByName("FILIAL").setText("1");
        paiRow.paramByName("CNPJ").setText(issued ? d.recipient->cnpj : d.issuer->cnpj);
        paiRow.execSQL();
    }
    database.close();
}

}  // namespace fixture
