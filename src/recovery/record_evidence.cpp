#include "recovery/record_evidence.h"

namespace {

constexpr double kBitsPerVarintByte = 7;
constexpr double kBitsOfRowIdType = 8;
constexpr double kBitsOfNumberType = 4.68;          // log2(256 / 10)
constexpr double kBitsOfNotNullNumberType = 4.83;   // log2(256 / 9)
constexpr double kBitsPerUtf8Byte = 0.9;

}  // namespace

double EvidenceBits(const TableSchema* schema, const std::vector<RecordValue>& values, const ReadingChecks& checks,
                    TextEncoding encoding) {
  double bits = kBitsPerVarintByte * static_cast<double>(checks.payloadLengthBytes + checks.headerLengthBytes);
  for (std::size_t column = 0; column < values.size(); ++column) {
    const RecordValue& value = values[column];
    if (value.serialType == kUnknownValue || (column == 0 && !checks.firstTypeSeen)) continue;
    if (schema != nullptr && static_cast<int>(column) == schema->rowIdColumn) {
      bits += kBitsOfRowIdType;
      continue;
    }
    if (schema != nullptr && column < schema->affinities.size()) {
      const Affinity affinity = schema->affinities[column];
      if (affinity == Affinity::kInteger || affinity == Affinity::kReal || affinity == Affinity::kNumeric) {
        bits += schema->notNull[column] ? kBitsOfNotNullNumberType : kBitsOfNumberType;
      }
    }
    if (IsTextType(value.serialType) && encoding == TextEncoding::kUtf8) {
      bits += kBitsPerUtf8Byte * static_cast<double>(value.bytes.size());
    }
  }
  return bits;
}
