#pragma once

#include <string>

namespace mirv {

// A period and a meter as the pages ask for them: local times 'YYYY-MM-DD HH:MM:SS' (or the
// shorter forms the query tab takes) and a meter number, empty or 全部 for all meters.
struct PeriodQuery {
    std::string from;
    std::string to;
    std::string meter;
};

struct ApiAnswer {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
};

// The answers that read the database at `databasePath` on a connection of their own, off the
// engine: energy use per meter (the figures and the CSV bytes of `mirv-history energy`, from
// the same computation), a meter's trend of a quantity (an index into trendQuantities()) drawn
// on `points` buckets, and the event journal.
ApiAnswer energyAnswer(const std::string& databasePath, const PeriodQuery& query, bool asCsv);
ApiAnswer quantitiesAnswer();
ApiAnswer trendAnswer(const std::string& databasePath, const PeriodQuery& query, int quantity,
                      int points = 600);
ApiAnswer journalAnswer(const std::string& databasePath, const PeriodQuery& query);

} // namespace mirv
