// Byte strings in tests: joining them, and the committed files under
// tests/data.
#pragma once
#include <string>

#include "tools/hostlib/nimbra_host.h"

// Two byte strings one after the other.
inline nimbra::Bytes operator+(nimbra::Bytes a, const nimbra::Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

namespace testsupport {

// A committed test file, `path` relative to tests/data ("jpeg/gray_q75.jpg").
nimbra::Bytes testData(const std::string &path);

}  // namespace testsupport
