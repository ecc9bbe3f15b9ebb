#include "tools/inspect/report_page.h"

namespace nimbra {

std::string reportPageFile(const std::string &name) {
    for (size_t i = 0; i < kReportPageFileCount; i++)
        if (name == kReportPageFiles[i].name) return kReportPageFiles[i].text;
    return "";
}

}  // namespace nimbra
