#pragma once
// Number and text formats of the operator's texts: the general number format, quoted masks,
// rounding to whole numbers, fixed-width text and the line end of generated texts.
// The decimal separator is always ".".

#include <cstdint>
#include <string>
#include <string_view>

namespace moirex {

// Line end of every generated text (memo lines, recipe files, reports).
inline constexpr std::string_view CRLF = "\r\n";

// General format: the shortest text of up to 15 significant digits; fixed notation for
// magnitudes from 0.00001 up to 15 integer digits, scientific beyond ("2.30761E-6").
// A float widened to double shows its widened digits (0.7893f -> "0.78930002450943").
// 0 (also -0) prints "0"; a value that is not a number or is infinite prints "?", the text the
// operator already reads as "no valid figure", never "nan" or "inf".
std::string FormatGeneral(double value);
// The value rounded to the nearest of `digits` significant digits; not-a-number,
// infinities, 0 and digits < 1 give the value unchanged.
double RoundSignificant(double value, int digits);

// The shortest text that reads back as the same value, with "." as decimal separator whatever
// the locale: numbers in files that other programs read (program files, run data files, copied
// graph points). A float gives its own shortest digits (3000.29f -> "3000.29"), not the widened
// ones.
std::string ShortestText(double value);
std::string ShortestText(float value);

// Quoted mask: "0" a digit, "#" an optional digit, "." the decimal separator, every other
// character copied; halves rounded away from zero. Examples: "0.000 000", "# ### ###", "0.00".
// - Integer part: a literal between digit places appears once a digit stands before it
//   (23087 with "# ### ###" -> "23 087"); digits beyond the places go in front.
// - Fraction part: optional places drop trailing zeros, and a literal appears only when a shown
//   digit follows it; with no fraction digit left the "." goes too
//   (0.0005 with " = 0.### ### ### g/min" -> " = 0.000 5 g/min", 1 -> " = 1 g/min").
// - A value that shows no digit at all under optional places is written "0", not as nothing.
// - A negative value gets "-" right before its first digit (or the "."); no "-" when the shown
//   value is zero. Text before the first and after the last place is always copied.
// - Rounding works on the value's 15 significant digits, the digits FormatGeneral shows, so
//   2.675 with "0.00" gives "2.68".
// - A value that is not a number or is infinite shows "?" between the mask's outer texts.
std::string FormatMask(double value, std::string_view mask);

// Conversion to a whole number with halves to the even neighbour (0.5 -> 0, 1.5 -> 2, 2.5 -> 2).
// Not-a-number gives 0; values beyond the 64-bit range are held at its ends.
int64_t RoundHalfEven(double value);

// Surrounding blanks are ignored; on false `value` is left as it was.
// Parses a real number written with "." as decimal separator (optional sign and exponent);
// false when the text is not one: "12,5", "nan", "inf", an empty text, a value out of range.
bool ParseReal(std::string_view text, double& value);
// Parses a decimal integer with optional sign, or, when hexAllowed and the text is longer than
// two characters, "0x"/"0X" hexadecimal; false when not an integer or out of the 64-bit range.
bool ParseInteger(std::string_view text, int64_t& value, bool hexAllowed = false);

// Fixed-width text, counted in characters (UTF-8 code points): FitLeft appends blanks and keeps
// the first n characters; FitRight puts blanks before and keeps the last n characters.
std::string FitLeft(std::string_view text, int width);
std::string FitRight(std::string_view text, int width);

// Blanks removed from both ends (blank, tab, CR, LF).
std::string Trim(std::string_view text);

}  // namespace moirex
