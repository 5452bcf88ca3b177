#pragma once
// "Exportar": the issued documents (type "NF", model "55", PAI_CANCELADA 1) of
// one branch issued between two dates, into the folders Entrada and Saida
// under the output folder, named "NFe" + access key + "_" + tax number + ".XML".

#include <string>

namespace app {

// The file name (8-bit code page text) of one document of the period export.
std::string periodFileName(const std::string& folder, const std::string& flag, const std::string& key,
                           const std::string& taxNumber);

}  // namespace app
