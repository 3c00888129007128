#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mirv {

// Rows of Historydata as their texts, all 13 columns in table order, packed back to back so
// that a long selection stays small in memory.
class HistoryRows {
  public:
    static constexpr int kColumns = 13;

    void addCell(std::string_view text) {
        text_.append(text);
        ends_.push_back(text_.size());
    }

    std::size_t size() const { return ends_.size() / kColumns; }
    bool empty() const { return ends_.empty(); }
    std::string_view cell(std::size_t row, int column) const {
        const std::size_t i = row * kColumns + static_cast<std::size_t>(column);
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(text_).substr(begin, ends_[i] - begin);
    }
    std::size_t bytes() const { return text_.capacity() + ends_.capacity() * sizeof(std::size_t); }

  private:
    std::string text_;
    std::vector<std::size_t> ends_;
};

} // namespace mirv
