#include "export/checks/findings.h"

namespace exports {

std::string_view findingName(Finding f) {
    switch (f) {
    case Finding::KeyLength: return "chave-tamanho";
    case Finding::KeyNotDigits: return "chave-nao-numerica";
    case Finding::KeyState: return "chave-uf";
    case Finding::KeyMonth: return "chave-mes";
    case Finding::KeyModel: return "chave-modelo";
    case Finding::KeyNumber: return "chave-numero";
    case Finding::KeyEmissionType: return "chave-tipo-emissao";
    case Finding::KeyCheckDigit: return "chave-digito";
    case Finding::XmlEmpty: return "xml-vazio";
    case Finding::XmlEncoding: return "xml-codificacao";
    case Finding::XmlMalformed: return "xml-malformado";
    case Finding::XmlRoot: return "xml-raiz";
    case Finding::XmlNoProtocol: return "xml-sem-protocolo";
    case Finding::XmlKeyMissing: return "xml-sem-chave";
    case Finding::XmlKeyMismatch: return "xml-chave-diferente";
    case Finding::XmlStructure: return "xml-estrutura";
    case Finding::SignatureMissing: return "assinatura-ausente";
    case Finding::SignatureDigest: return "assinatura-digest";
    case Finding::SignatureInvalid: return "assinatura-invalida";
    case Finding::ProtocolDigest: return "protocolo-digest";
    case Finding::CertificateChain: return "certificado-cadeia";
    case Finding::CertificateHolder: return "certificado-titular";
    }
    return "?";
}

void CheckCounts::add(const Findings& findings) {
    ++checked;
    bool key = false, xml = false, signature = false;
    for (Finding f : findings)
        (f <= Finding::KeyCheckDigit ? key : f < Finding::SignatureMissing ? xml : signature) = true;
    failed += key || xml || signature;
    badKeys += key;
    badXml += xml;
    badSignatures += signature;
}

std::string findingsText(const Findings& findings) {
    if (findings.empty()) return "ok";
    std::string out;
    for (Finding f : findings) {
        if (!out.empty()) out += ',';
        out += findingName(f);
    }
    return out;
}

}  // namespace exports
