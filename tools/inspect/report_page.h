// The files of the report page (index.html template, style, script), kept
// as files in tools/inspect/page and built into the program as text.
#pragma once
#include <cstddef>
#include <string>

namespace nimbra {

struct PageFile {
    const char *name;
    const char *text;
};
extern const PageFile kReportPageFiles[];
extern const size_t kReportPageFileCount;

// The text of one page file; empty when there is none of that name.
std::string reportPageFile(const std::string &name);

}  // namespace nimbra
