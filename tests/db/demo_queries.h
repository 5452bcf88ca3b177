#pragma once
// Statements over the demo database, line by line, that drive the query
// objects in these tests: the exportable documents with their change moment,
// one document's texts by parameter, and a period selection.

#include "db/ibquery.h"
#include "platform/regional.h"

#include <array>
#include <string>
#include <string_view>

namespace demo_queries {

// IBQuery1: number and change moment of every exportable document.
inline constexpr std::array<std::string_view, 4> IBQuery1 = {
    "select pai_sequ, dig_datahora from mvto_nfe",
    "WHERE NFE_CHAVEACESSO IS NOT NULL",
    "AND COALESCE(NFE_CANCELAMENTO, NFE_DISTRIBUICAO,NFE_XML) IS NOT NULL",
    "order by pai_sequ;",
};

// QExportar: the texts of one document; parameter SEQUENCIAL (integer).
// Columns: access key, cancellation, distribution, document text.
inline constexpr std::array<std::string_view, 2> QExportar = {
    "SELECT NFE_CHAVEACESSO, NFE_CANCELAMENTO, NFE_DISTRIBUICAO, NFE_XML FROM MVTO_NFE",
    "WHERE PAI_SEQU = :SEQUENCIAL;",
};

// IBQuery2: the period selection; parameters dt1, dt2 (dates) and filial
// (text). Columns: entry/exit flag, access key, first non-null text, tax number.
inline constexpr std::array<std::string_view, 7> IBQuery2 = {
    "select a.pai_entsai, b.nfe_chaveacesso, coalesce(b.nfe_cancelamento,b.nfe_distribuicao,b.nfe_xml), pai_cnpjcfp from mvto_pai a, mvto_nfe b",
    "where a.pai_sequ = b.pai_sequ",
    "and a.pai_dtemissao between :dt1 and :dt2",
    "and a.pai_tipodoc = 'NF'",
    "and a.pai_modelo = '55'",
    "and a.pai_cancelada = 1",
    "and a.pai_filial = :filial",
};

// The regional settings of the moment, as the tests pin them.
inline platform::FormatSettings regional() { return platform::currentFormatSettings(); }

// The rows of a query read to the end (fetchAll first), the first row current again.
inline int rowsOf(db::TIBQuery& q) {
    int n = 0;
    for (q.first(); !q.eof(); q.next()) ++n;
    q.first();
    return n;
}

}  // namespace demo_queries
