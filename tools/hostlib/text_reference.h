// The reference page of the text form, printed from the command table: the
// statements, then every command with its fields, units, wire layout and an
// example. docs/text-form.md is this text.
#pragma once
#include <string>

namespace nimbra {

std::string textFormReference();

}  // namespace nimbra
