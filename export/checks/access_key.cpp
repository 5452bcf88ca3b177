#include "export/checks/access_key.h"

#include <array>

namespace exports {

namespace {

bool isDigits(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool isStateCode(std::string_view s) {
    static constexpr std::array<std::string_view, 27> codes = {"11", "12", "13", "14", "15", "16", "17", "21", "22",
                                                               "23", "24", "25", "26", "27", "28", "29", "31", "32",
                                                               "33", "35", "41", "42", "43", "50", "51", "52", "53"};
    for (auto c : codes)
        if (c == s) return true;
    return false;
}

// 1 normal, 2 FS, 3 SCAN, 4 EPEC, 5 FS-DA, 6 SVC-AN, 7 SVC-RS, 9 NFC-e offline.
bool isEmissionType(std::string_view s) { return s.size() == 1 && s[0] >= '1' && s[0] <= '9' && s[0] != '8'; }

}  // namespace

bool splitAccessKey(std::string_view key, AccessKeyParts& parts) {
    if (key.size() != 44 || !isDigits(key)) return false;
    parts.state = key.substr(0, 2);
    parts.yearMonth = key.substr(2, 4);
    parts.issuer = key.substr(6, 14);
    parts.model = key.substr(20, 2);
    parts.series = key.substr(22, 3);
    parts.number = key.substr(25, 9);
    parts.emissionType = key.substr(34, 1);
    parts.code = key.substr(35, 8);
    parts.checkDigit = key.substr(43, 1);
    return true;
}

int accessKeyCheckDigit(std::string_view first43) {
    if (first43.size() != 43 || !isDigits(first43)) return -1;
    int sum = 0;
    int weight = 2;
    for (auto it = first43.rbegin(); it != first43.rend(); ++it) {
        sum += (*it - '0') * weight;
        weight = weight == 9 ? 2 : weight + 1;
    }
    const int remainder = sum % 11;
    return remainder < 2 ? 0 : 11 - remainder;
}

Findings checkAccessKey(std::string_view key) {
    Findings findings;
    if (key.size() != 44) {
        findings.push_back(Finding::KeyLength);
        return findings;
    }
    AccessKeyParts p;
    if (!splitAccessKey(key, p)) {
        findings.push_back(Finding::KeyNotDigits);
        return findings;
    }
    if (!isStateCode(p.state)) findings.push_back(Finding::KeyState);
    const int month = (p.yearMonth[2] - '0') * 10 + (p.yearMonth[3] - '0');
    if (month < 1 || month > 12) findings.push_back(Finding::KeyMonth);
    if (p.model != "55" && p.model != "65") findings.push_back(Finding::KeyModel);
    if (p.number == "000000000") findings.push_back(Finding::KeyNumber);
    if (!isEmissionType(p.emissionType)) findings.push_back(Finding::KeyEmissionType);
    if (accessKeyCheckDigit(key.substr(0, 43)) != p.checkDigit[0] - '0') findings.push_back(Finding::KeyCheckDigit);
    return findings;
}

}  // namespace exports
