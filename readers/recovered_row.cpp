#include "readers/recovered_row.h"

#include <charconv>

#include "db/item_time.h"

namespace readers {
namespace {

const db::undark::UndarkValue kNull{};

// Seconds since 2001 of 1970-01-01 and of 2100-01-01.
constexpr double kEarliestAppleSeconds = -static_cast<double>(db::kAppleEpochOffsetSeconds);
constexpr double kLatestAppleSeconds = kLatestPlausibleTime - static_cast<double>(db::kAppleEpochOffsetSeconds);

}  // namespace

bool HoldsNumber(const db::undark::UndarkValue& value) { return value.type >= 1 && value.type <= 9; }

std::int64_t IntOf(const db::undark::UndarkValue& value) {
  return HoldsNumber(value) ? db::undark::UndarkValueToInt64(value) : 0;
}

double RealOf(const db::undark::UndarkValue& value) {
  return value.type == db::undark::kTypeDouble ? value.real : static_cast<double>(IntOf(value));
}

const db::undark::UndarkValue& RecoveredRow::Value(std::string_view column) const {
  const int index = table_.Index(column);
  if (index < 0 || static_cast<std::size_t>(index) >= row_.size()) return kNull;
  return row_[static_cast<std::size_t>(index)];
}

bool RecoveredRow::IsNumber(std::string_view column) const { return HoldsNumber(Value(column)); }

std::string RecoveredRow::Text(std::string_view column) const {
  const db::undark::UndarkValue& value = Value(column);
  return value.type == db::undark::kTypeText ? db::undark::UndarkValueText(value) : std::string();
}

std::span<const std::uint8_t> RecoveredRow::Blob(std::string_view column) const {
  const db::undark::UndarkValue& value = Value(column);
  if (value.type != db::undark::kTypeBlob) return {};
  return {reinterpret_cast<const std::uint8_t*>(value.text.data()), value.text.size()};
}

std::int64_t RecoveredRow::Int(std::string_view column) const { return IntOf(Value(column)); }

double RecoveredRow::Real(std::string_view column) const { return RealOf(Value(column)); }

bool RecoveredRow::HoldsPlausibleAppleDate(std::string_view column) const {
  if (IsNull(column)) return true;
  if (!IsNumber(column)) return false;
  const double seconds = Real(column);
  return seconds >= kEarliestAppleSeconds && seconds <= kLatestAppleSeconds;
}

std::optional<std::int64_t> RecoveredRow::RowId() const {
  for (std::size_t i = 0; i < table_.ColumnCount() && i < row_.size(); ++i) {
    if (!table_.Columns()[i].primaryKey) continue;
    const db::undark::UndarkValue& value = row_[i];
    if (value.type != db::undark::kTypeRowId || value.text.empty()) return std::nullopt;
    std::int64_t rowId = 0;
    const char* end = value.text.data() + value.text.size();
    const auto [at, error] = std::from_chars(value.text.data(), end, rowId);
    if (error != std::errc() || at != end) return std::nullopt;
    return rowId;
  }
  return std::nullopt;
}

}  // namespace readers
