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
std::string FormatGeneral(double value);

// Quoted mask: "0" a digit, "#" an optional digit, "." the decimal separator, every other
// character copied; halves rounded away from zero. Examples: "0.000 000", "# ### ###", "0.00".
std::string FormatMask(double value, std::string_view mask);

// Conversion to a whole number with halves to the even neighbour (0.5 -> 0, 1.5 -> 2, 2.5 -> 2).
int64_t RoundHalfEven(double value);

// Parses a real number written with "." as decimal separator; false when the text is not one.
bool ParseReal(std::string_view text, double& value);
// Parses a decimal integer, or "0x" hexadecimal when hexAllowed; false when not an integer.
bool ParseInteger(std::string_view text, int64_t& value, bool hexAllowed = false);

// Fixed-width text, counted in characters (UTF-8 code points): FitLeft appends blanks and keeps
// the first n characters; FitRight puts blanks before and keeps the last n characters.
std::string FitLeft(std::string_view text, int width);
std::string FitRight(std::string_view text, int width);

// Blanks removed from both ends (blank, tab, CR, LF).
std::string Trim(std::string_view text);

}  // namespace moirex
