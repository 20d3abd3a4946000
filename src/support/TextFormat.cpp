#include "support/TextFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

namespace moirex {

namespace {

// A non-negative decimal number: digits[0] has the place value 10^exponent.
struct TDecimal {
    std::string digits;  // at least one digit, no sign
    int exponent = 0;
};

// The magnitude of `value` to 15 significant digits: the precision every operator text shows.
// Masks round from these digits too, so a mask never disagrees with the general format of the
// same value (2.675 shows as "2.675" and rounds to "2.68").
TDecimal SignificantDigits(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
    TDecimal d;
    const char* p = buffer;
    for (; *p != 'e' && *p != '\0'; ++p) {
        if (*p >= '0' && *p <= '9') d.digits.push_back(*p);
    }
    if (*p == 'e') d.exponent = std::atoi(p + 1);
    return d;
}

bool IsAllZero(std::string_view digits) {
    for (char c : digits) {
        if (c != '0') return false;
    }
    return true;
}

// Text shown instead of a value that is not a number or is infinite. Operators already read "?"
// as "no valid figure" in the run panels; a silent "nan" or "inf" could be mistaken for data.
constexpr std::string_view kNotANumberText = "?";

}  // namespace

std::string FormatGeneral(double value) {
    if (!std::isfinite(value)) return std::string(kNotANumberText);
    if (value == 0) return "0";

    TDecimal d = SignificantDigits(value);
    while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();

    std::string text;
    if (value < 0) text.push_back('-');

    const int e = d.exponent;
    if (e >= 15 || e < -5) {
        text.push_back(d.digits[0]);
        if (d.digits.size() > 1) {
            text.push_back('.');
            text.append(d.digits, 1);
        }
        text.push_back('E');
        if (e < 0) text.push_back('-');
        text += std::to_string(std::abs(e));
        return text;
    }
    if (e < 0) {
        text += "0.";
        text.append(static_cast<size_t>(-e - 1), '0');
        text += d.digits;
        return text;
    }
    const size_t integerDigits = static_cast<size_t>(e) + 1;
    if (d.digits.size() <= integerDigits) {
        text += d.digits;
        text.append(integerDigits - d.digits.size(), '0');
    } else {
        text.append(d.digits, 0, integerDigits);
        text.push_back('.');
        text.append(d.digits, integerDigits);
    }
    return text;
}

std::string FormatMask(double value, std::string_view mask) {
    // Where the placeholders are: the number occupies the mask from its first to its last
    // placeholder; the first "." after the first placeholder is the decimal separator.
    const size_t first = mask.find_first_of("0#");
    if (first == std::string_view::npos) return std::string(mask);
    const size_t last = mask.find_last_of("0#");
    size_t point = mask.find('.', first);
    if (point != std::string_view::npos && point > last) point = std::string_view::npos;
    // A mask may begin its number with the separator (".00").
    if (point == std::string_view::npos && first > 0 && mask[first - 1] == '.') point = first - 1;
    const size_t start = point != std::string_view::npos && point < first ? point : first;
    const size_t intEnd = point == std::string_view::npos ? last + 1 : point;

    if (!std::isfinite(value)) {
        std::string text(mask.substr(0, start));
        text += kNotANumberText;
        text += mask.substr(last + 1);
        return text;
    }

    int intPlaces = 0, minIntDigits = 0, fracPlaces = 0, minFracDigits = 0;
    for (size_t i = first; i < intEnd; ++i) {
        if (mask[i] == '0' || mask[i] == '#') {
            ++intPlaces;
            // Every place from the leftmost "0" onwards is always written.
            if (mask[i] == '0' && minIntDigits == 0) minIntDigits = 1;
            else if (minIntDigits > 0) ++minIntDigits;
        }
    }
    if (point != std::string_view::npos) {
        for (size_t i = point + 1; i <= last; ++i) {
            if (mask[i] == '0' || mask[i] == '#') {
                ++fracPlaces;
                if (mask[i] == '0') minFracDigits = fracPlaces;
            }
        }
    }

    // Round the magnitude to fracPlaces decimals, halves away from zero.
    TDecimal d = SignificantDigits(value);
    const int keep = d.exponent + fracPlaces + 1;  // digits down to the place 10^-fracPlaces
    std::string digits;                            // the rounded number, scaled by 10^fracPlaces
    if (keep < 0) {
        digits = "0";
    } else if (keep >= static_cast<int>(d.digits.size())) {
        digits = d.digits;
        digits.append(static_cast<size_t>(keep) - d.digits.size(), '0');
    } else {
        digits = d.digits.substr(0, static_cast<size_t>(keep));
        if (d.digits[static_cast<size_t>(keep)] >= '5') {
            int i = static_cast<int>(digits.size()) - 1;
            for (; i >= 0; --i) {
                if (digits[static_cast<size_t>(i)] == '9') {
                    digits[static_cast<size_t>(i)] = '0';
                } else {
                    ++digits[static_cast<size_t>(i)];
                    break;
                }
            }
            if (i < 0) digits.insert(digits.begin(), '1');
        }
        if (digits.empty()) digits = "0";
    }
    if (digits.size() < static_cast<size_t>(fracPlaces) + 1) {
        digits.insert(0, static_cast<size_t>(fracPlaces) + 1 - digits.size(), '0');
    }
    const bool negative = value < 0 && !IsAllZero(digits);
    std::string intDigits = digits.substr(0, digits.size() - static_cast<size_t>(fracPlaces));
    const std::string fracDigits = digits.substr(intDigits.size());
    {
        size_t nz = intDigits.find_first_not_of('0');
        intDigits = nz == std::string::npos ? std::string() : intDigits.substr(nz);
    }
    if (static_cast<int>(intDigits.size()) < minIntDigits) {
        intDigits.insert(0, static_cast<size_t>(minIntDigits) - intDigits.size(), '0');
    }
    int fracShown = minFracDigits;
    for (int i = fracPlaces; i > fracShown; --i) {
        if (fracDigits[static_cast<size_t>(i) - 1] != '0') {
            fracShown = i;
            break;
        }
    }
    // A zero under a mask of optional places only ("# ### ###", "##") is written as "0" rather
    // than as nothing, so a column of figures never shows a blank where a value stands.
    if (intDigits.empty() && fracShown == 0) intDigits = "0";

    std::string text(mask.substr(0, start));
    bool signPending = negative;
    auto emitDigits = [&](std::string_view s) {
        if (s.empty()) return;
        if (signPending) {
            text.push_back('-');
            signPending = false;
        }
        text += s;
    };

    // Integer part: a literal between placeholders appears only once a digit stands before it,
    // so "# ### ###" writes 23087 as "23 087". Digits beyond the mask's places go in front.
    const int intCount = static_cast<int>(intDigits.size());
    size_t lastIntPlace = std::string_view::npos;
    for (size_t i = first; i < intEnd; ++i) {
        if (mask[i] == '0' || mask[i] == '#') lastIntPlace = i;
    }
    int place = 0;  // index of the placeholder from the left
    bool started = false;
    for (size_t i = first; i < intEnd; ++i) {
        const char c = mask[i];
        if (c == '0' || c == '#') {
            const int fromRight = intPlaces - 1 - place;
            if (place == 0 && intCount > intPlaces) {
                emitDigits(std::string_view(intDigits).substr(0, static_cast<size_t>(intCount - intPlaces)));
                started = true;
            }
            if (fromRight < intCount) {
                emitDigits(std::string_view(intDigits).substr(static_cast<size_t>(intCount - 1 - fromRight), 1));
                started = true;
            }
            ++place;
        } else if (i > lastIntPlace || started) {
            text.push_back(c);
        }
    }

    // Without integer places the whole number still stands before the separator.
    if (intPlaces == 0) emitDigits(intDigits);

    // Fraction part: a literal between placeholders appears only when a shown digit follows it.
    if (point != std::string_view::npos) {
        if (fracShown > 0) {
            if (signPending) {
                text.push_back('-');
                signPending = false;
            }
            text.push_back('.');
        }
        int fplace = 0;
        for (size_t i = point + 1; i <= last; ++i) {
            const char c = mask[i];
            if (c == '0' || c == '#') {
                if (fplace < fracShown) text.push_back(fracDigits[static_cast<size_t>(fplace)]);
                ++fplace;
            } else if (fplace < fracShown) {
                text.push_back(c);
            }
        }
    }
    text += mask.substr(last + 1);
    return text;
}

int64_t RoundHalfEven(double value) {
    // Out-of-range results are held at the nearest representable whole number; a value that is
    // not a number gives 0 rather than an undefined conversion.
    if (std::isnan(value)) return 0;
    const double r = std::nearbyint(value);  // default rounding mode: to nearest, ties to even
    if (r >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (r <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(r);
}

double RoundSignificant(double value, int digits) {
    if (digits < 1 || value == 0 || !std::isfinite(value)) return value;
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", std::min(digits, 17) - 1, value);
    double rounded = value;
    std::from_chars(text, text + std::strlen(text), rounded, std::chars_format::scientific);
    return rounded;
}

bool ParseReal(std::string_view text, double& value) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    bool digit = false;
    for (char c : t) {
        if (c >= '0' && c <= '9') digit = true;
        else if (c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E') return false;
    }
    if (!digit) return false;
    std::string_view s = t;
    bool negative = false;
    if (s.front() == '+' || s.front() == '-') {
        negative = s.front() == '-';
        s.remove_prefix(1);
        if (s.empty() || s.front() == '+' || s.front() == '-') return false;
    }
    double v = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (ec != std::errc() || ptr != s.data() + s.size()) return false;
    value = negative ? -v : v;
    return true;
}

bool ParseInteger(std::string_view text, int64_t& value, bool hexAllowed) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    std::string_view s = t;
    if (hexAllowed && s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        uint64_t u = 0;
        const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), u, 16);
        if (ec != std::errc() || ptr != s.data() + s.size()) return false;
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
        value = static_cast<int64_t>(u);
        return true;
    }
    if (s.front() == '+') {
        s.remove_prefix(1);
        if (s.empty() || s.front() == '-' || s.front() == '+') return false;
    }
    int64_t v = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
    if (ec != std::errc() || ptr != s.data() + s.size()) return false;
    value = v;
    return true;
}

namespace {

// Byte offsets of the code point starts of a UTF-8 text. A byte that is not a valid
// continuation counts as a character of its own, so a text in another encoding still fits.
std::vector<size_t> CharacterStarts(std::string_view text) {
    std::vector<size_t> starts;
    size_t i = 0;
    while (i < text.size()) {
        starts.push_back(i);
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len = 1;
        if (c >= 0xC2 && c <= 0xDF) len = 2;
        else if (c >= 0xE0 && c <= 0xEF) len = 3;
        else if (c >= 0xF0 && c <= 0xF4) len = 4;
        if (i + len > text.size()) len = 1;
        for (size_t k = 1; k < len; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                len = 1;
                break;
            }
        }
        i += len;
    }
    return starts;
}

}  // namespace

std::string FitLeft(std::string_view text, int width) {
    if (width <= 0) return {};
    const std::vector<size_t> starts = CharacterStarts(text);
    const size_t n = static_cast<size_t>(width);
    if (starts.size() >= n) {
        const size_t end = starts.size() == n ? text.size() : starts[n];
        return std::string(text.substr(0, end));
    }
    std::string result(text);
    result.append(n - starts.size(), ' ');
    return result;
}

std::string FitRight(std::string_view text, int width) {
    if (width <= 0) return {};
    const std::vector<size_t> starts = CharacterStarts(text);
    const size_t n = static_cast<size_t>(width);
    if (starts.size() >= n) return std::string(text.substr(starts[starts.size() - n]));
    std::string result(n - starts.size(), ' ');
    result += text;
    return result;
}

std::string Trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const size_t b = text.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    const size_t e = text.find_last_not_of(blanks);
    return std::string(text.substr(b, e - b + 1));
}

std::string ShortestText(double value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string ShortestText(float value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

}  // namespace moirex
