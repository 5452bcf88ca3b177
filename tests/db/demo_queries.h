#pragma once
// Statements over the demo database that drive the queries in these tests:
// the exportable documents, one document's texts by parameter, and a period
// selection.

namespace demo_queries {

// Number of every exportable document.
inline constexpr const char* kDocuments =
    "select pai_sequ from mvto_nfe\n"
    "WHERE NFE_CHAVEACESSO IS NOT NULL\n"
    "AND COALESCE(NFE_CANCELAMENTO, NFE_DISTRIBUICAO,NFE_XML) IS NOT NULL\n"
    "order by pai_sequ;";

// The texts of one document; parameter SEQUENCIAL (integer).
// Columns: access key, cancellation, distribution, document text.
inline constexpr const char* kTexts =
    "SELECT NFE_CHAVEACESSO, NFE_CANCELAMENTO, NFE_DISTRIBUICAO, NFE_XML FROM MVTO_NFE\n"
    "WHERE PAI_SEQU = :SEQUENCIAL;";

// The period selection; parameters dt1, dt2 and filial (texts).
// Columns: entry/exit flag, access key, first non-null text, tax number.
inline constexpr const char* kPeriod =
    "select a.pai_entsai, b.nfe_chaveacesso, coalesce(b.nfe_cancelamento,b.nfe_distribuicao,b.nfe_xml), "
    "pai_cnpjcfp from mvto_pai a, mvto_nfe b\n"
    "where a.pai_sequ = b.pai_sequ\n"
    "and a.pai_dtemissao between :dt1 and :dt2\n"
    "and a.pai_tipodoc = 'NF'\n"
    "and a.pai_modelo = '55'\n"
    "and a.pai_cancelada = 1\n"
    "and a.pai_filial = :filial";

}  // namespace demo_queries
