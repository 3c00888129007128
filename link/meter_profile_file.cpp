#include "meter_profile_file.h"

#include "board_units.h"
#include "profile_decoder.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

namespace mirv {

namespace {

using nlohmann::json;

// A character iterator that counts the lines it has gone past, so the parser's events know the
// line they are on.
class LineCountingIterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    LineCountingIterator() = default;
    LineCountingIterator(const char* at, int* line) : at_(at), line_(line) {}
    reference operator*() const { return *at_; }
    LineCountingIterator& operator++() {
        if (*at_ == '\n')
            ++*line_;
        ++at_;
        return *this;
    }
    LineCountingIterator operator++(int) {
        auto before = *this;
        ++*this;
        return before;
    }
    bool operator==(const LineCountingIterator& other) const { return at_ == other.at_; }

  private:
    const char* at_ = nullptr;
    int* line_ = nullptr;
};

// Why a profile is refused, at one of its fields ("values.flow.type", "reads[1]").
struct Refusal {
    std::string field;
    std::string problem;
};

// The document with the line of each field, named as in a refusal.
struct Document {
    json root;
    std::map<std::string, int> lines;
    std::string duplicate;
};

Document parseWithLines(std::string_view text) {
    Document doc;
    int line = 1;
    struct Frame {
        bool array;
        int index;
        std::string path;
        std::string key;
    };
    std::vector<Frame> frames;
    auto childPath = [&] {
        Frame& top = frames.back();
        if (top.array)
            return top.path + "[" + std::to_string(top.index++) + "]";
        return top.path.empty() ? top.key : top.path + "." + top.key;
    };
    auto enter = [&](bool array) {
        std::string path;
        if (!frames.empty()) {
            const bool element = frames.back().array;
            path = childPath();
            if (element)
                doc.lines.emplace(path, line);
        }
        frames.push_back({array, 0, path, {}});
    };
    const json::parser_callback_t callback = [&](int, json::parse_event_t event, json& parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
            enter(false);
            break;
        case json::parse_event_t::array_start:
            enter(true);
            break;
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end:
            frames.pop_back();
            break;
        case json::parse_event_t::key: {
            Frame& top = frames.back();
            top.key = parsed.get<std::string>();
            const std::string path = top.path.empty() ? top.key : top.path + "." + top.key;
            if (const auto [at, fresh] = doc.lines.emplace(path, line); !fresh) {
                at->second = line;
                if (doc.duplicate.empty())
                    doc.duplicate = path;
            }
            break;
        }
        case json::parse_event_t::value:
            if (frames.back().array)
                doc.lines.emplace(childPath(), line);
            break;
        }
        return true;
    };
    doc.root = json::parse(LineCountingIterator(text.data(), &line),
                           LineCountingIterator(text.data() + text.size(), &line), callback);
    return doc;
}

constexpr std::pair<std::string_view, int> kQuantities[] = {
    {"flow", FlowRateCell},
    {"velocity", FlowSpeedCell},
    {"inlet_temperature", InletTempCell},
    {"outlet_temperature", OutletTempCell},
    {"forward_total", ForwardTotalCell},
    {"reverse_total", ReverseTotalCell},
    {"heat_power", HeatPowerCell},
    {"cold_power", ColdPowerCell},
    {"heat_total", HeatTotalCell},
    {"cold_total", ColdTotalCell},
};

constexpr std::pair<std::string_view, ValueType> kTypes[] = {
    {"int16", ValueType::Int16},     {"uint16", ValueType::UInt16},   {"int32", ValueType::Int32},
    {"uint32", ValueType::UInt32},   {"int64", ValueType::Int64},     {"uint64", ValueType::UInt64},
    {"float32", ValueType::Float32}, {"float64", ValueType::Float64}, {"pair", ValueType::Pair},
};

constexpr std::pair<std::string_view, ByteOrder> kOrders[] = {
    {"ABCD", {false, false}},
    {"CDAB", {true, false}},
    {"BADC", {false, true}},
    {"DCBA", {true, true}},
};

// The digits the board shows a quantity with when the profile does not say.
int boardDecimals(int cell) {
    switch (cell) {
    case InletTempCell:
    case OutletTempCell:
    case ForwardTotalCell:
    case ReverseTotalCell:
    case HeatTotalCell:
    case ColdTotalCell:
        return 2;
    default:
        return 4;
    }
}

std::string member(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

void onlyKeys(const json& object, const std::string& path,
              std::initializer_list<std::string_view> known) {
    if (!object.is_object())
        throw Refusal{path, "must be an object"};
    for (const auto& [key, value] : object.items()) {
        bool isKnown = false;
        for (std::string_view k : known)
            isKnown = isKnown || k == key;
        if (!isKnown)
            throw Refusal{member(path, key), "unknown field"};
    }
}

long long integerIn(const json& object, const std::string& path, std::string_view key,
                    long long lowest, long long highest, std::optional<long long> byDefault) {
    const std::string field = member(path, key);
    const auto it = object.find(std::string(key));
    if (it == object.end()) {
        if (byDefault)
            return *byDefault;
        throw Refusal{field, "missing"};
    }
    if (!it->is_number_integer())
        throw Refusal{field, "must be a whole number"};
    const long long v = it->is_number_unsigned() && it->get<std::uint64_t>() > 1ULL << 62
                            ? highest + 1
                            : it->get<long long>();
    if (v < lowest || v > highest)
        throw Refusal{field, std::to_string(v) + " is not in " + std::to_string(lowest) + ".." +
                                 std::to_string(highest)};
    return v;
}

std::string textOf(const json& object, const std::string& path, std::string_view key,
                   std::optional<std::string> byDefault) {
    const auto it = object.find(std::string(key));
    if (it == object.end()) {
        if (byDefault)
            return *byDefault;
        throw Refusal{member(path, key), "missing"};
    }
    if (!it->is_string() || it->get<std::string>().empty())
        throw Refusal{member(path, key), "must be a text"};
    return it->get<std::string>();
}

std::optional<double> numberOf(const json& object, const std::string& path, std::string_view key) {
    const auto it = object.find(std::string(key));
    if (it == object.end())
        return std::nullopt;
    if (!it->is_number())
        throw Refusal{member(path, key), "must be a number"};
    return it->get<double>();
}

std::vector<RegisterRead> readsOf(const json& root) {
    const auto it = root.find("reads");
    if (it == root.end())
        throw Refusal{"reads", "missing"};
    if (!it->is_array() || it->empty())
        throw Refusal{"reads", "must be a list of one read or more"};
    std::vector<RegisterRead> reads;
    for (std::size_t i = 0; i < it->size(); ++i) {
        const std::string path = "reads[" + std::to_string(i) + "]";
        const json& r = (*it)[i];
        onlyKeys(r, path, {"function", "first", "count"});
        RegisterRead read;
        read.function = static_cast<std::uint8_t>(integerIn(r, path, "function", 0, 255, {}));
        if (read.function != 3 && read.function != 4)
            throw Refusal{member(path, "function"), "must be 3 or 4"};
        read.first = static_cast<std::uint16_t>(integerIn(r, path, "first", 0, 65535, {}));
        read.count = static_cast<std::uint16_t>(
            integerIn(r, path, "count", 1, std::min(125, 65536 - read.first), {}));
        for (std::size_t j = 0; j < reads.size(); ++j)
            if (reads[j].function == read.function && reads[j].first < read.first + read.count &&
                read.first < reads[j].first + reads[j].count)
                throw Refusal{path, "overlaps reads[" + std::to_string(j) + "]"};
        reads.push_back(read);
    }
    return reads;
}

// The offset of `key` in `object`, checked to leave `registers` registers inside the read.
int offsetIn(const json& object, const std::string& path, std::string_view key,
             const RegisterRead& read, int registers, int readIndex) {
    const int offset = static_cast<int>(integerIn(object, path, key, 0, 65535, {}));
    if (offset + registers > read.count)
        throw Refusal{member(path, key),
                      "offset " + std::to_string(offset) + " (" + std::to_string(registers) +
                          " registers) is outside reads[" + std::to_string(readIndex) + "] of " +
                          std::to_string(read.count) + " registers"};
    return offset;
}

template <typename T, std::size_t N>
T lookUp(const std::pair<std::string_view, T> (&table)[N], const std::string& key,
         const std::string& field, const char* what) {
    for (const auto& [name, value] : table)
        if (name == key)
            return value;
    throw Refusal{field, "unknown " + std::string(what) + " \"" + key + "\""};
}

ValueSource valueOf(const json& v, const std::string& path, int cell,
                    const std::vector<RegisterRead>& reads) {
    onlyKeys(v, path,
             {"read", "offset", "type", "order", "scale", "unit", "decimals", "min", "below",
              "fraction", "billions"});
    ValueSource s;
    s.read = static_cast<int>(
        integerIn(v, path, "read", 0, static_cast<long long>(reads.size()) - 1, 0));
    const RegisterRead& read = reads[static_cast<std::size_t>(s.read)];
    s.type = lookUp(kTypes, textOf(v, path, "type", {}), member(path, "type"), "type");
    s.offset = offsetIn(v, path, "offset", read, registersOf(s.type), s.read);
    s.order = lookUp(kOrders, textOf(v, path, "order", "ABCD"), member(path, "order"), "order");
    s.scale = static_cast<int>(integerIn(v, path, "scale", -18, 18, 0));
    const std::string unit = textOf(v, path, "unit", std::string(boardUnit(cell)));
    const auto factor = unitFactor(cell, unit);
    if (!factor)
        throw Refusal{member(path, "unit"), "unknown unit \"" + unit + "\" for this quantity"};
    s.factor = *factor;
    s.decimals = static_cast<int>(integerIn(v, path, "decimals", 0, 9, boardDecimals(cell)));
    s.min = numberOf(v, path, "min");
    s.below = numberOf(v, path, "below");
    if (s.type == ValueType::Pair) {
        s.fractionOffset = offsetIn(v, path, "fraction", read, 2, s.read);
        if (v.contains("billions"))
            s.billionsOffset = offsetIn(v, path, "billions", read, 2, s.read);
    } else {
        for (const char* key : {"fraction", "billions"})
            if (v.contains(key))
                throw Refusal{member(path, key), "only a pair has it"};
    }
    return s;
}

std::vector<AlarmFlag> alarmsOf(const json& root, const std::vector<RegisterRead>& reads) {
    std::vector<AlarmFlag> alarms;
    const auto it = root.find("alarms");
    if (it == root.end())
        return alarms;
    if (!it->is_array())
        throw Refusal{"alarms", "must be a list"};
    for (std::size_t i = 0; i < it->size(); ++i) {
        const std::string path = "alarms[" + std::to_string(i) + "]";
        const json& a = (*it)[i];
        onlyKeys(a, path, {"read", "offset", "bit", "value", "text"});
        AlarmFlag flag;
        flag.read = static_cast<int>(
            integerIn(a, path, "read", 0, static_cast<long long>(reads.size()) - 1, 0));
        flag.offset =
            offsetIn(a, path, "offset", reads[static_cast<std::size_t>(flag.read)], 1, flag.read);
        if (a.contains("bit") == a.contains("value"))
            throw Refusal{path, "needs either a bit or a value"};
        if (a.contains("bit"))
            flag.bit = static_cast<int>(integerIn(a, path, "bit", 0, 15, {}));
        else
            flag.value = static_cast<std::uint16_t>(integerIn(a, path, "value", 0, 65535, {}));
        flag.text = textOf(a, path, "text", {});
        alarms.push_back(std::move(flag));
    }
    return alarms;
}

MeterProfile profileOf(const json& root, const std::string& name) {
    onlyKeys(root, "", {"description", "reads", "values", "alarms"});
    MeterProfile profile;
    profile.name = name;
    profile.reads = readsOf(root);
    if (const auto values = root.find("values"); values != root.end()) {
        if (!values->is_object())
            throw Refusal{"values", "must be an object"};
        for (const auto& [key, value] : values->items()) {
            const std::string path = "values." + key;
            const int cell = lookUp(kQuantities, key, path, "quantity");
            profile.values[cell] = valueOf(value, path, cell, profile.reads);
        }
    }
    profile.alarms = alarmsOf(root, profile.reads);
    return profile;
}

int lineOf(const Document& doc, std::string field) {
    // A field the text lacks is refused at the line of the nearest one it has.
    while (!field.empty()) {
        if (const auto it = doc.lines.find(field); it != doc.lines.end())
            return it->second;
        const auto cut = field.find_last_of(".[");
        field = cut == std::string::npos ? std::string() : field.substr(0, cut);
    }
    return 1;
}

} // namespace

ProfileResult parseMeterProfile(std::string_view text, const std::string& file,
                                const std::string& name) {
    Document doc;
    try {
        doc = parseWithLines(text);
    } catch (const json::parse_error& e) {
        const auto upTo = std::min<std::size_t>(e.byte, text.size());
        const auto line =
            1 + std::count(text.begin(), text.begin() + static_cast<long>(upTo), '\n');
        return {std::nullopt, file + ":" + std::to_string(line) + ": not JSON: " + e.what()};
    }
    try {
        if (!doc.duplicate.empty())
            throw Refusal{doc.duplicate, "given twice"};
        return {profileOf(doc.root, name), {}};
    } catch (const Refusal& r) {
        return {std::nullopt, file + ":" + std::to_string(lineOf(doc, r.field)) + ": " +
                                  (r.field.empty() ? std::string("profile") : r.field) + ": " +
                                  r.problem};
    }
}

ProfileResult readMeterProfile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    if (in)
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof())
        return {std::nullopt, path.string() + ":0: cannot be read"};
    return parseMeterProfile(text, path.string(), path.stem().string());
}

ProfileResult findMeterProfile(const std::filesystem::path& folder, const std::string& nameOrFile) {
    const bool isFile = nameOrFile.find('/') != std::string::npos ||
                        std::filesystem::path(nameOrFile).extension() == ".json";
    return readMeterProfile(isFile ? std::filesystem::path(nameOrFile)
                                   : folder / (nameOrFile + ".json"));
}

} // namespace mirv
