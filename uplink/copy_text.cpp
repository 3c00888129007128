#include "copy_text.h"

namespace mirv {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at s[i] (RFC 3629: no overlong forms, no
// surrogates, nothing past U+10FFFF), or 0.
std::size_t sequenceLength(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > s.size() || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (byte(k) < 0x80 || byte(k) > 0xBF)
            return 0;
    return length;
}

// How COPY's text format writes `c`, when not as itself.
const char* copyEscape(char c) {
    switch (c) {
    case '\\':
        return "\\\\";
    case '\t':
        return "\\t";
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    default:
        return nullptr;
    }
}

// Appends `text` made fit for the server, COPY's escapes only with `escaped`.
void appendText(std::string& out, std::string_view text, std::size_t maxChars, bool escaped) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size() && chars < maxChars;) {
        const char c = text[i];
        if (c != '\0')
            ++chars;
        if (static_cast<unsigned char>(c) < 0x80) {
            if (const char* escape = escaped ? copyEscape(c) : nullptr)
                out += escape;
            else if (c != '\0')
                out += c;
            ++i;
            continue;
        }
        if (const std::size_t length = sequenceLength(text, i)) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += kReplacement;
            ++i;
        }
    }
}

} // namespace

void appendCopyText(std::string& out, std::string_view text, std::size_t maxChars) {
    appendText(out, text, maxChars, true);
}

std::string serverText(std::string_view text, std::size_t maxChars) {
    std::string out;
    appendText(out, text, maxChars, false);
    return out;
}

void appendCopyNull(std::string& out) {
    out += "\\N";
}

} // namespace mirv
