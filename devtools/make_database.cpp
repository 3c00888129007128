// make-database SCHEMA.sql DATABASE: creates the station's database from its schema, unless a
// database is already there (a build never overwrites one that holds history).
#include "create_database.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-database SCHEMA.sql DATABASE\n");
        return 2;
    }
    if (std::filesystem::exists(argv[2]))
        return 0;
    std::ifstream in(argv[1]);
    std::stringstream schema;
    schema << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "make-database: cannot read %s\n", argv[1]);
        return 1;
    }
    if (const auto error = mirv::createDatabase(argv[2], schema.str())) {
        std::fprintf(stderr, "make-database: %s\n", error->c_str());
        return 1;
    }
    return 0;
}
