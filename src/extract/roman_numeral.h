#pragma once
// Roman numerals as documents print page numbers ("xiv", "XLIX").
#include <string_view>

namespace qm {

// The value of a roman numeral written all in lower or all in upper case (i..mmmm or I..MMMM) in
// its usual shortest form, else 0 ("iiii", "ic" and words such as "did" are no numbers).
long long RomanValue(std::string_view token);

} // namespace qm
