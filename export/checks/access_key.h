#pragma once
// The access key's own checks: 44 digits whose parts mean something and whose
// last digit is the module-11 check digit of the others.

#include "export/checks/findings.h"

#include <string_view>

namespace exports {

// The parts of a 44-digit access key, as views into the key.
struct AccessKeyParts {
    std::string_view state;         // IBGE code of the issuer's state, 2 digits
    std::string_view yearMonth;     // AAMM of the issue
    std::string_view issuer;        // CNPJ, or a CPF padded with zeros, 14 digits
    std::string_view model;         // 55 NF-e, 65 NFC-e
    std::string_view series;        // 3 digits
    std::string_view number;        // 9 digits
    std::string_view emissionType;  // 1 digit
    std::string_view code;          // 8 digits chosen by the issuer
    std::string_view checkDigit;    // 1 digit
};

// Splits a key of exactly 44 digits; false (and `parts` untouched) otherwise.
bool splitAccessKey(std::string_view key, AccessKeyParts& parts);

// The module-11 check digit of the first 43 digits (weights 2..9 from the
// right, cycling; a remainder of 0 or 1 gives 0). -1 when `first43` is not
// 43 digits.
int accessKeyCheckDigit(std::string_view first43);

// Every finding about the access key; empty when it is valid. Structure is
// checked first: a key that is not 44 digits gets only that finding. The 14
// issuer digits are not checked as a CNPJ: issuers with a CPF are legal.
Findings checkAccessKey(std::string_view key);

}  // namespace exports
