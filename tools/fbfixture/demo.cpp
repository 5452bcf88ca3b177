// The hand-made documents. Texts are Windows-1252 bytes; line breaks are CR LF
// or a lone LF as stored by the ERP.
#include "tools/fbfixture/fixture.h"

#include "db/database.h"

namespace fixture {

namespace {

struct Doc {
    int seq;
    const char* moment;  // nullptr: NULL
    bool key;            // false: NULL access key
    const char* cancel;  // nullptr: NULL
    const char* distrib;
    const char* xml;
    // MVTO_PAI row (tipo nullptr: none)
    const char* tipo;
    const char* entsai;
    const char* issued;
    const char* modelo;
    int cancelada;
    int filial;
    const char* cnpj;
    bool vehicle;
};

std::string xmlOf(int seq, const std::string& inner) {
    return "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<nfeProc><NFe><infNFe Id=\"NFe" + accessKey(seq) +
           "\">" + inner + "</infNFe></NFe></nfeProc>";
}

}  // namespace

void fillDemo(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who,
              const Schema& schema) {
    const std::string crlf = xmlOf(1, "\r\n<xNome>Jos\xE9 Concei\xE7\xE3o & Filhos</xNome>\r\n");
    const std::string lf = xmlOf(2,
                                 "\n<xNome>A\xE7\xFA"
                                 "car Uni\xE3o</xNome>\n<xObs>recebida</xObs>\n");
    const std::string veh = xmlOf(3, "\r\n<veicProd><chassi>9BWZZZ377VT004251</chassi></veicProd>\r\n");
    const std::string cancelDoc =
        "<procEventoNFe><evento><descEvento>Cancelamento</descEvento>"
        "<xJust>Erro na emiss\xE3o</xJust></evento></procEventoNFe>";
    const std::string distDoc = xmlOf(5, "<protNFe><xMotivo>Autorizado o uso da NF-e</xMotivo></protNFe>");
    const std::string plain6 = xmlOf(6, "<ide><natOp>Venda de mercadoria</natOp></ide>");
    std::string big = xmlOf(12, "");
    {
        std::string inner = "\r\n";
        for (int i = 0; inner.size() < 100 * 1024; ++i)
            inner += "<det nItem=\"" + std::to_string(i + 1) +
                     "\"><prod><xProd>Parafuso sextavado \xBC\" a\xE7o inox \x96 item " + std::to_string(i + 1) +
                     "</xProd></prod></det>\r\n";
        big = xmlOf(12, inner);
    }
    const std::string x7 = xmlOf(7, "<obs>momento nulo</obs>");
    const std::string x8 = xmlOf(8, "<obs>sem chave</obs>");
    const std::string x10 = xmlOf(10, "<obs>cancelamento vazio</obs>");
    const std::string x11 = xmlOf(11, "<dest><CPF>12345678901</CPF></dest>");
    const std::string x13 = xmlOf(13,
                                  "<obs>sem cabe\xE7"
                                  "alho</obs>");
    const std::string x14 = xmlOf(14, "<obs>outro tipo</obs>");
    const std::string x15 = xmlOf(15, "<obs>filial zero</obs>");
    const std::string x16 = xmlOf(16, "<obs>mesmo dia, mais cedo</obs>");

    const Doc docs[] = {
        // seq moment                 key   cancel           distrib          xml              tipo  es   issued        mod  can fil cnpj               vehicle
        {1, "2020-12-25 10:05:37", true, nullptr, nullptr, crlf.c_str(), "NF", "S", "2020-12-25", "55", 1, 1,
         "11222333000181", false},
        {2, "2021-01-10 00:00:00", true, nullptr, nullptr, lf.c_str(), "NE", "E", "2021-01-09", "55", 1, 1,
         "44555666000199", false},
        {3, "2021-02-01 08:30:00", true, nullptr, nullptr, veh.c_str(), "NF", "S", "2021-02-01", "55", 1, 1,
         "77888999000155", true},
        {4, "2021-02-02 09:00:01", true, cancelDoc.c_str(), distDoc.c_str(), plain6.c_str(), "NF", "S", "2021-02-02",
         "55", 1, 1, "11222333000181", false},
        {5, "2021-02-03 14:15:16", true, " \r\n \t\r\n", distDoc.c_str(), plain6.c_str(), "NF", "E", "2021-02-03", "55",
         1, 2, "44555666000199", false},
        {6, "2021-02-04 23:59:59", true, nullptr, nullptr, plain6.c_str(), "NF", "S", "2021-02-04", "55", 1, 2,
         "11222333000181", false},
        {7, nullptr, true, nullptr, nullptr, x7.c_str(), "NF", "S", "2021-02-05", "55", 1, 1, "11222333000181", false},
        {8, "2021-02-06 10:00:00", false, nullptr, nullptr, x8.c_str(), "NF", "S", "2021-02-06", "55", 1, 1,
         "11222333000181", false},
        {9, "2021-02-07 10:00:00", true, nullptr, nullptr, nullptr, "NF", "S", "2021-02-07", "55", 1, 1,
         "11222333000181", false},
        {10, "2021-02-08 10:00:00", true, nullptr, nullptr, x10.c_str(), "NF", "S", "2021-02-08", "55", 1, 1,
         "11222333000181", false},
        {11, "2021-03-01 07:07:07", true, nullptr, nullptr, x11.c_str(), "NF", "S", "2021-03-01", "55", 1, 2,
         "12345678901", false},
        {12, "2021-03-02 12:00:00", true, nullptr, nullptr, big.c_str(), "NF", "S", "2021-03-02", "55", 1, 1,
         "11222333000181", false},
        {13, "2021-03-03 13:00:00", true, nullptr, nullptr, x13.c_str(), nullptr, nullptr, nullptr, nullptr, 0, 0,
         nullptr, false},
        {14, "2021-03-04 14:00:00", true, nullptr, nullptr, x14.c_str(), "XX", "S", "2021-03-04", "55", 1, 1,
         "11222333000181", false},
        {15, "2021-03-05 15:00:00", true, nullptr, nullptr, x15.c_str(), "NF", "S", "2021-03-05", "55", 1, 0,
         "11222333000181", false},
        {16, "2020-12-25 08:00:00", true, nullptr, nullptr, x16.c_str(), "NF", "S", "2020-12-25", "55", 0, 1,
         "11222333000181", false},
    };

    db::Database database(client, path, {"user_name=" + who.user, "password=" + who.password});
    {
        db::Query nfe(database,
                      "INSERT INTO MVTO_NFE (PAI_SEQU, DIG_DATAHORA, NFE_CHAVEACESSO,"
                      " NFE_CANCELAMENTO, NFE_DISTRIBUICAO, NFE_XML)"
                      " VALUES (:SEQ, :MOMENT, :CHAVE, :CANC, :DIST, :XML)");
        db::Query pai(database,
                      "INSERT INTO MVTO_PAI (PAI_SEQU, PAI_TIPODOC, PAI_ENTSAI, PAI_DTEMISSAO,"
                      " PAI_MODELO, PAI_CANCELADA, PAI_FILIAL, PAI_CNPJCFP)"
                      " VALUES (:SEQ, :TIPO, :ES, :EMISSAO, :MODELO, :CANCELADA, :FILIAL, :CNPJ)");
        db::Query vei(database,
                      "INSERT INTO mvto_veiculos (pai_sequ, vei_chassi)"
                      " VALUES (:SEQ, '9BWZZZ377VT004251')");
        // NULL is the empty text.
        auto text = [](const char* v) { return std::string(v ? v : ""); };
        for (const Doc& d : docs) {
            nfe.setInteger("SEQ", d.seq);
            nfe.setText("MOMENT", text(d.moment));
            nfe.setText("CHAVE", d.key ? accessKey(d.seq) : "");
            nfe.setText("CANC", text(d.cancel));
            nfe.setText("DIST", text(d.distrib));
            // A CHAR column cannot hold the 100 KB document; keep that one for blobs and varchars.
            const char* xml = d.xml;
            if (d.seq == 12 && schema.texts != Schema::Texts::Blob) xml = x16.c_str();
            nfe.setText("XML", text(xml));
            nfe.execute();
            if (d.tipo) {
                pai.setInteger("SEQ", d.seq);
                pai.setText("TIPO", text(d.tipo));
                pai.setText("ES", text(d.entsai));
                pai.setText("EMISSAO", text(d.issued));
                pai.setText("MODELO", text(d.modelo));
                pai.setInteger("CANCELADA", d.cancelada);
                pai.setText("FILIAL", std::to_string(d.filial));
                pai.setText("CNPJ", text(d.cnpj));
                pai.execute();
            }
            if (d.vehicle) {
                vei.setInteger("SEQ", d.seq);
                vei.execute();
            }
        }
    }
    // Present but empty: distinct from NULL, so COALESCE picks it.
    db::Query(database, "UPDATE MVTO_NFE SET NFE_CANCELAMENTO = '' WHERE PAI_SEQU = 10").execute();
    database.close();
}

}  // namespace fixture
