#pragma once

#include "linkstats.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirv {

constexpr int kLinkstatsColumns = 13;
using LinkstatsTexts = std::array<std::string, kLinkstatsColumns>;

extern const std::array<std::string_view, kLinkstatsColumns> kLinkstatsCaptions;

// A Linkstats row as texts: meter, hour, the counts, response mean and max in milliseconds
// with one decimal.
LinkstatsTexts linkstatsTexts(const LinkstatsRow& row);

// The rows as a CSV file's bytes, by the history export's CSV writer, under the captions.
std::string linkstatsCsv(const std::vector<LinkstatsRow>& rows);

// The rows as an XLSX workbook at `path`: the hour a date-time, the rest numbers. The
// failure's description, if any.
std::optional<std::string> writeLinkstatsXlsx(const std::string& path,
                                              const std::vector<LinkstatsRow>& rows);

} // namespace mirv
