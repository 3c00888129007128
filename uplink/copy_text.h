#pragma once

#include <string>
#include <string_view>

namespace mirv {

// Fields of PostgreSQL's COPY text format.

// Appends `text` as one field: backslash, tab, newline and carriage return escaped, bytes that
// are not UTF-8 replaced by U+FFFD and NUL bytes dropped, so that the server always takes it;
// of that, the first `maxChars` characters (as the server counts them) at most.
void appendCopyText(std::string& out, std::string_view text,
                    std::size_t maxChars = std::string_view::npos);

// `text` as appendCopyText makes it fit for the server, without COPY's escapes: for a
// statement's parameter.
std::string serverText(std::string_view text, std::size_t maxChars = std::string_view::npos);

// Appends the field for NULL.
void appendCopyNull(std::string& out);

} // namespace mirv
