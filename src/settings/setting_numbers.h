#pragma once

#include <optional>
#include <string_view>

namespace tovrik {

// Settings values travel as text; these read numbers out of them the way the suite's older
// programs did, so that a value written by any program of the suite means the same here.

// The number at the start of `text`, read leniently: blanks, tabs and line feeds are ignored
// wherever they stand; a sign, digits, one decimal point, an exponent (E or D) and the prefixes
// &H (hex) and &O (octal) are read up to the first character that cannot continue the number;
// text that does not begin with a number gives 0. Hex and octal values up to &HFFFF are 16-bit,
// larger ones 32-bit two's complement (&HFFFF and &HFFFFFFFF are both -1). Throws
// std::overflow_error when the number does not fit a double or a hex/octal value exceeds 32 bits.
double LeadingNumber(std::string_view text);

// The number that the whole of `text` spells, blanks and tabs around it allowed: the same forms
// as LeadingNumber, but nothing may follow the number. Nothing when the text is not a number
// (empty text included) or does not fit a double.
std::optional<double> NumberFromText(std::string_view text);

// `value` rounded to a whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

}  // namespace tovrik
